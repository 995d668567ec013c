// What only a Windows parent can hand hushmark.exe: UTF-16 command lines
// with unpaired surrogates, and a standard error that is a named pipe.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "stand_in_git.h"

namespace hushmark::test {
namespace {

const std::string colouredPrefix = "\x1b[31m\x1b[1merror\x1b[0m\x1b[2m\x1b[1m: \x1b[0m";

// Runs hushmark.exe through the launcher; `tail` is the command line after
// the program's name, with \uXXXX escapes.
RunResult launch(const std::vector<std::string>& options, const std::string& tail,
                 const RunOptions& runOptions = {}) {
  std::vector<std::string> argv{HUSHMARK_EMULATOR, HUSHMARK_WINDOWS_BUILD "/tools/launcher.exe"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("Z:" + hushmarkBinary());
  argv.push_back(tail);
  return run(argv, runOptions);
}

TEST(WindowsLauncher, CommandLineWordsArriveAsWtf8) {
  struct Case {
    std::string tail;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {R"(--\uD800x)", "--\xed\xa0\x80x"},
      {R"(--\uDC00\uD800)", "--\xed\xb0\x80\xed\xa0\x80"},
      {R"(--\uD83D\uDE00)", "--\xf0\x9f\x98\x80"},
      {R"("--a b" c)", "--a b"},
      {R"(--a\\\"b\\ c)", R"(--a\"b\\)"},
      {R"(hide "--x""y" z)", "--x\"y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    RunResult result = launch({}, c.tail);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Invalid argument '" + c.shown + "'\n");
    EXPECT_EQ(result.status, 2);
  }
}

// The fallback line after a failed write of the version line, with standard
// error on a named pipe.
TEST(WindowsLauncher, FallbackLineColourOnNamedPipes) {
  struct Case {
    std::string pipe;
    bool noColor;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"msys-1888ae32e00d56aa-pty0-to-master", false, colouredPrefix + "BrokenPipe\n"},
      {"cygwin-e022582115c10879-pty3-to-master", false, colouredPrefix + "BrokenPipe\n"},
      {"msys-1888ae32e00d56aa-pty0-to-master", true, "error: BrokenPipe\n"},
      {"hushmark-test-pipe", false, "error: BrokenPipe\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pipe + (c.noColor ? ", NO_COLOR" : ""));
    RunOptions options;
    if (c.noColor) options.env["NO_COLOR"] = "";
    RunResult result = launch({"--stderr-pipe", c.pipe, "--closed-stdout"}, "--version", options);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, 1);
  }
}

// A full non-blocking pipe takes nothing for a while: the text still
// arrives whole, as through a blocking one.
TEST(WindowsLauncher, NonBlockingPipeIsWrittenWhole) {
  RunResult expected = hushmark({"--help"});
  ASSERT_EQ(expected.out.size(), 400u);
  RunResult result = launch({"--nowait-stdout"}, "--help");
  EXPECT_EQ(result.out, expected.out);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

// The exclude file held open by another process that shares it with nobody:
// for a moment, as virus scanners and indexers do, the run waits it out;
// for longer, it fails.
TEST(WindowsLauncher, FileHeldElsewhereIsASharingViolation) {
  StandInGit git;
  std::string exclude = git.dir() + "/info/exclude";
  git.excludeAt(exclude);
  std::filesystem::create_directories(git.dir() + "/info");
  writeFile(exclude, "a\n");
  for (const char* command : {"list", "hide b"}) {
    SCOPED_TRACE(command);
    RunResult result = launch({"--hold", windowsPath(exclude)}, command, git.options());
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "error: SharingViolation\n");
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_EQ(readFile(exclude), "a\n");
  // Held by one that lets others read and write it, or for a moment only:
  // the file is written.
  struct Hold {
    std::vector<std::string> options;
    const char* command;
    std::string after;
  };
  const std::vector<Hold> holds = {
      {{"--hold-writable", windowsPath(exclude)}, "hide b", "a\nb\n"},
      {{"--hold-for", "600", windowsPath(exclude)}, "hide c", "a\nb\nc\n"},
  };
  for (const Hold& hold : holds) {
    SCOPED_TRACE(hold.command);
    RunResult result = launch(hold.options, hold.command, git.options());
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(exclude), hold.after);
  }
}

// Another process holds the name of a lock with an object of another kind:
// the lock is taken, by whoever it is, and the file stays as it is.
TEST(WindowsLauncher, LockNameTakenByAnEventIsALockedFile) {
  StandInGit git;
  std::string exclude = git.dir() + "/info/exclude";
  git.excludeAt(exclude);
  std::filesystem::create_directories(git.dir() + "/info");
  writeFile(exclude, "a\n");
  for (const std::string& taken : {exclude, git.dir() + "/info"}) {
    SCOPED_TRACE(taken);
    RunResult result = launch({"--lock-name-taken", windowsPath(taken)}, "hide b", git.options());
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "error: ExcludeFileLocked\n");
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_EQ(readFile(exclude), "a\n");
}

}  // namespace
}  // namespace hushmark::test
