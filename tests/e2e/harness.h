// Runs the built program (or any other) as a child process and captures
// what it writes, byte for byte; makes temporary directories and Git
// repositories for it to work in.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hushmark::test {

struct RunResult {
  std::string out;
  std::string err;
  // The exit code when the child exited; -1 otherwise.
  int status = -1;
  // The signal that ended the child, or 0.
  int signal = 0;
};

struct RunOptions {
  std::string cwd;
  // Variables to set (a value) or remove (nullopt) on top of the test's
  // own environment.
  std::map<std::string, std::optional<std::string>> env;
  // Bytes for standard input; standard input is the null device without.
  std::optional<std::string> input;
  // Standard error goes to a pseudo-terminal instead of a pipe.
  bool stderrOnTerminal = false;
  // Runs in the child just before exec, e.g. to set a resource limit.
  std::function<void()> beforeExec;
};

// A run that wrote nothing and ended with status 0.
void expectSilentSuccess(const RunResult& result);
// A run that wrote nothing on standard output, exactly `err` on standard
// error, and ended with status 1.
void expectFailure(const RunResult& result, const std::string& err);

// Options for a run in `cwd` (empty: the default) with `env` on top.
RunOptions at(const std::string& cwd, std::map<std::string, std::optional<std::string>> env = {});

// Runs `argv` (argv[0] is found on PATH when it holds no slash).
RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

// A run that has been started and not yet waited for, so that the test can
// act on it meanwhile (e.g. send it a signal).
struct StartedRun {
  int pid = -1;
  int out = -1;
  int err = -1;
};
StartedRun start(const std::vector<std::string>& argv, const RunOptions& options = {});
// Reads the run's output to its end and waits for it.
RunResult finish(StartedRun started);

// Runs the built hushmark with `args`.
RunResult hushmark(const std::vector<std::string>& args, const RunOptions& options = {});

// The path of the built program.
std::string hushmarkBinary();

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A Git repository in a fresh directory, isolated from the user's and the
// system's Git configuration.
class GitRepo {
 public:
  // `subdir` names a directory inside the temporary one to initialise;
  // e.g. a name with a blank.
  explicit GitRepo(const std::string& subdir = "repo");
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Runs git in the repository; fails the test when git fails.
  std::string git(const std::vector<std::string>& args) const;
  // Runs hushmark in the repository (or in `cwd` relative to it).
  RunResult hushmark(const std::vector<std::string>& args, RunOptions options = {}) const;

  // Writes, adds and commits files.
  void commitFiles(const std::vector<std::string>& names) const;

  std::string excludePath() const { return path_ + "/.git/info/exclude"; }

 private:
  TempDir dir_;
  std::string path_;
};

// The environment every run gets: Git configuration isolated, no colour
// variables, a fixed identity for commits.
std::map<std::string, std::optional<std::string>> baseEnvironment();

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// Writes an executable shell script.
void writeScript(const std::string& path, const std::string& content);

// Whether starting a program that does not exist with posix_spawn fails,
// as it does on every system. Under qemu-user (7.2) the start reports
// success and the child exits 127: a case that can only hold where that
// failure is seen asks this probe, and is skipped only when it shows the
// emulator's fault.
bool spawnOfMissingProgramFails();

// The words of every call in a stand-in git's log, in call order: each call
// is its word count, then its words, every field ended by a NUL.
std::vector<std::vector<std::string>> readCallLog(const std::string& path);

}  // namespace hushmark::test
