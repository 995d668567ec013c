// A stand-in git.exe for the Windows build's runs under Wine: it answers
// from files that the test prepares and records the words it was given.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace hushmark::test {

// The build's wrapper that runs a Windows program under Wine.
std::string wineRunner();

// The Windows name of a Unix path: Wine's drive Z: is the Unix root.
std::string windowsPath(const std::string& unixPath);

// The stand-in git.exe in bin/ of a directory of its own, found through
// WINEPATH (the front of Wine's PATH). For the first word W of a call it
// writes "W.err" to standard error and "W.out" to standard output (after
// "W.errsize"/"W.outsize" bytes of filler), hangs if "W.hang" exists, and
// exits with the number in "W.code". With "W.lock" it holds "index.lock"
// while it runs; "W.spawn" names the word of a copy it leaves running;
// "W.sleep", milliseconds to wait before it exits.
class StandInGit {
 public:
  StandInGit();
  const std::string& dir() const { return dir_.path(); }
  std::string bin() const { return dir_ / "bin"; }
  // Sets the answer file `name` (e.g. "ls-files.out").
  void set(const std::string& name, const std::string& content) const;
  // rev-parse names this exclude file (a Unix path, given to hushmark in
  // its Windows form).
  void excludeAt(const std::string& unixPath) const;
  // The words of every call, in call order.
  std::vector<std::vector<std::string>> calls() const;
  // Options for a run in `cwd` with this git first on the path.
  RunOptions options(const std::string& cwd = {}) const;

 private:
  TempDir dir_;
};

// Whether a process whose command line holds `marker` is still running.
bool processRunning(const std::string& marker);

}  // namespace hushmark::test
