// The Windows build end to end under Wine: the git runner, freeze, list,
// hide and unhide with the same expected bytes as on Linux, plus what only
// Windows has: the search for git.exe and git.bat, the command line that
// carries every word, drive roots and backslashes in the exclude path, the
// job that ends a git nobody waits for.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "win/e2e/stand_in_git.h"

namespace hushmark::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t stdoutCap = 16 * 1024 * 1024;
constexpr std::size_t stderrCap = 1024 * 1024;

using Calls = std::vector<std::vector<std::string>>;

void expectRun(const RunResult& result, const std::string& out, const std::string& err,
               int status) {
  EXPECT_EQ(result.out, out);
  EXPECT_TRUE(result.err == err) << "stderr: " << result.err.size() << " bytes, starting "
                                 << result.err.substr(0, 80);
  EXPECT_EQ(result.status, status);
}

// Waits a while for the processes whose command line holds `marker` to go.
bool goneSoon(const std::string& marker) {
  for (int tries = 0; tries < 100; ++tries) {
    if (!processRunning(marker)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST(WinRunner, MissingGitIsFileNotFound) {
  TempDir empty;
  RunOptions options;
  options.cwd = empty.path();
  options.env["WINEPATH"] = windowsPath(empty.path());
  expectRun(hushmark({"list"}, options), "", "hushmark: FileNotFound\n", 1);
}

TEST(WinRunner, JudgesHowGitEnded) {
  struct Ending {
    const char* name;
    std::string out;
    std::string err;
    std::string code;
    std::string shown;
    int status;
  };
  const std::vector<Ending> endings = {
      {"silent success", "", "", "0", "", 0},
      {"warnings on success are not shown", "updated\n", "warning: x\nhint: y\n", "0", "", 0},
      {"diagnostic trimmed to one line feed", "", "  fatal: x \r\n\n", "1", "hushmark: fatal: x\n",
       1},
      {"inner line breaks and blanks kept", "", "\terror: one\r\n\terror: two \t\n", "2",
       "hushmark: error: one\r\n\terror: two\n", 1},
      {"high exit code", "", "boom\n", "255", "hushmark: boom\n", 1},
      {"exit code 256 fails", "", "", "256", "hushmark: git command failed\n", 1},
      {"exit code 512 fails", "", "from git\n", "512", "hushmark: from git\n", 1},
      // 0xC0000100: a crash, whatever its low 8 bits say.
      {"crash status", "", "", "3221225728", "hushmark: git command failed\n", 1},
      {"empty diagnostic", "", "", "1", "hushmark: git command failed\n", 1},
      {"standard output never shown", "fatal: on stdout\n", "", "1",
       "hushmark: git command failed\n", 1},
  };
  StandInGit git;
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    git.set("update-index.out", ending.out);
    git.set("update-index.err", ending.err);
    git.set("update-index.code", ending.code);
    expectRun(hushmark({"freeze", "a.txt"}, git.options()), "", ending.shown, ending.status);
  }
}

TEST(WinRunner, ListAsksGitTwiceAndShowsNoWarning) {
  StandInGit git;
  git.excludeAt(git.dir() + "/missing/exclude");
  git.set("ls-files.out", std::string("H a\0S b c\0", 10));
  git.set("ls-files.err", "warning: noise\n");
  expectRun(hushmark({"list"}, git.options()), "freeze\tb c\n", "", 0);
  EXPECT_EQ(git.calls(),
            (Calls{{"rev-parse", "--git-path", "info/exclude"}, {"ls-files", "-v", "-z"}}));
}

// Standard output through `list`, whose cap counts only what it lists
// (filler makes one entry that is not frozen, then "S big" follows), and
// through `freeze`, whose git output is collected; standard error through
// `freeze`.
TEST(WinRunner, OutputCaps) {
  struct Case {
    const char* name;
    const char* file;
    std::size_t size;
    std::string out;
    std::string err;
    int status;
  };
  const std::vector<Case> cases = {
      {"unlisted entries beyond the cap", "ls-files.outsize", stdoutCap + 1, "freeze\tbig\n", "",
       0},
      {"collected stdout one byte over", "update-index.outsize", stdoutCap + 1, "",
       "hushmark: StreamTooLong\n", 1},
      {"stderr at the cap", "update-index.errsize", stderrCap, "", "", 0},
      {"stderr one byte over", "update-index.errsize", stderrCap + 1, "",
       "hushmark: StreamTooLong\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandInGit git;
    git.excludeAt(git.dir() + "/missing");
    git.set("ls-files.out", std::string("\0S big\0", 7));
    git.set(c.file, std::to_string(c.size));
    bool list = std::string(c.file).starts_with("ls-files");
    expectRun(
        hushmark(list ? std::vector<std::string>{"list"} : std::vector<std::string>{"freeze", "a"},
                 git.options()),
        c.out, c.err, c.status);
  }
}

// Standard error filled far beyond a pipe's buffer before standard output
// is written: a runner that reads standard output to its end first stalls.
TEST(WinRunner, BothStreamsDrainWithoutStalling) {
  StandInGit git;
  git.excludeAt(git.dir() + "/missing");
  git.set("ls-files.errsize", std::to_string(stderrCap));
  git.set("ls-files.outsize", "8000000");
  git.set("ls-files.out", std::string("\0S a\0", 5));
  expectRun(hushmark({"list"}, git.options()), "freeze\ta\n", "", 0);
}

// A git that writes more than the cap and then hangs is ended soon after;
// so is one whose hushmark is killed while it runs. One that can still
// finish, after a cap or a Ctrl-C (Wine makes one of SIGINT), is left to,
// so that it removes its index.lock.
TEST(WinRunner, NoGitOutlivesTheRun) {
  StandInGit locking;
  const std::string lock = locking.bin() + "/index.lock";
  locking.set("update-index.lock", "");
  locking.set("update-index.errsize", std::to_string(4 * stderrCap));
  expectRun(hushmark({"freeze", "a"}, locking.options()), "", "hushmark: StreamTooLong\n", 1);
  EXPECT_FALSE(fileExists(lock)) << "after a cap";
  fs::remove(locking.bin() + "/update-index.errsize");
  locking.set("update-index.sleep", "500");
  StartedRun running = start({wineRunner(), hushmarkBinary(), "freeze", "a"}, locking.options());
  for (int tries = 0; tries < 1000 && !fileExists(lock); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(running.pid, SIGINT);
  finish(running);
  EXPECT_FALSE(fileExists(lock)) << "after Ctrl-C";

  // Run directly, and behind a launcher that runs the real git as its child.
  for (bool launched : {false, true}) {
    SCOPED_TRACE(launched ? "behind a launcher" : "directly");
    StandInGit git;
    if (launched) git.set("launch", "");
    git.excludeAt(git.dir() + "/missing");
    git.set("update-index.outsize", std::to_string(stdoutCap + 1));
    git.set("update-index.hang", "");
    auto started = std::chrono::steady_clock::now();
    expectRun(hushmark({"freeze", "a"}, git.options()), "", "hushmark: StreamTooLong\n", 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // Wine shows the stand-in's Windows path, which holds the directory's name.
    const std::string marker = fs::path(git.dir()).filename().string();
    ASSERT_FALSE(marker.empty());
    EXPECT_TRUE(goneSoon(marker)) << "git still running";

    git.set("rev-parse.hang", "");
    RunResult killed =
        run({"timeout", "-s", "KILL", "3", wineRunner(), hushmarkBinary(), "list"}, git.options());
    // timeout ends itself with the same signal.
    EXPECT_TRUE(killed.status == 137 || killed.signal == 9) << killed.status;
    EXPECT_TRUE(goneSoon(marker)) << "git outlived a killed hushmark";
  }
}

// What git starts to outlive it (its file-system monitor daemon) goes on
// after the run and ends of its own accord, removing the lock it holds.
TEST(WinRunner, GitsOwnChildrenSurviveTheRun) {
  StandInGit git;
  git.set("update-index.spawn", "fsmonitor--daemon");
  git.set("fsmonitor--daemon.lock", "");
  git.set("fsmonitor--daemon.sleep", "500");
  expectRun(hushmark({"freeze", "a"}, git.options()), "", "", 0);
  EXPECT_TRUE(goneSoon(fs::path(git.dir()).filename().string()));
  EXPECT_EQ(git.calls(),
            (Calls{{"update-index", "--skip-worktree", "--", "a"}, {"fsmonitor--daemon"}}));
  EXPECT_FALSE(fileExists(git.bin() + "/index.lock")) << "git's child was ended";
}

// Words that the command line must quote reach git as they were given.
TEST(WinRunner, ArgumentsReachGitUnchanged) {
  const std::vector<std::string> names = {
      "with blank.txt", "two  blanks ",  "double\"quote", "\"",    "back\\slash\\",
      "trail\\\\",      "back\\\"quote", "tab\there",     "$HOME", "50%",
      "caf\xc3\xa9",    "\xe6\x97\xa5",  "-dash",         "a&b|c", "(x)^y"};
  StandInGit git;
  std::vector<std::string> args = {"freeze", "--"};
  args.insert(args.end(), names.begin(), names.end());
  expectRun(hushmark(args, git.options()), "", "", 0);
  std::vector<std::string> expected = {"update-index", "--skip-worktree", "--"};
  expected.insert(expected.end(), names.begin(), names.end());
  EXPECT_EQ(git.calls(), Calls{expected});
}

// A git command line longer than a Windows process may be given (32,767
// characters with its NUL) is refused with its cause named and runs no git;
// one just under the limit runs. git stands in a deep directory, so that its
// command line is longer than hushmark's own by more than the step between.
TEST(WinRunner, CommandLineTooLongIsNamed) {
  StandInGit git;
  const std::string deep = git.dir() + "/" + std::string(180, 'd');
  fs::create_directory(deep);
  fs::copy_file(git.bin() + "/git.exe", deep + "/git.exe");
  RunOptions options = git.options();
  options.env["WINEPATH"] = windowsPath(deep);
  // The quoted path, then " update-index --skip-worktree --".
  const std::size_t gitPrefix = windowsPath(deep + "/git.exe").size() + 2 + 32;
  if (hushmarkBinary().size() + 40 >= gitPrefix) GTEST_SKIP() << "the build's path is too long";
  auto freezeWords = [](std::size_t length) {
    std::vector<std::string> args = {"freeze"};
    for (; length > 0; length -= args.back().size() + 1) {
      args.push_back(std::string(std::min<std::size_t>(length - 1, 999), 'p'));
    }
    return args;
  };
  expectRun(hushmark(freezeWords(32767 - gitPrefix - 10), options), "", "", 0);
  ASSERT_EQ(readFile(deep + "/calls").empty(), false);
  fs::remove(deep + "/calls");
  expectRun(hushmark(freezeWords(32767 - gitPrefix + 10), options), "",
            "hushmark: ArgumentListTooLong\n", 1);
  EXPECT_FALSE(fileExists(deep + "/calls"));

  // A batch file's line is cmd.exe's, which holds 8,191 characters, and
  // where every "%" takes eight.
  TempDir batchDir;
  writeFile(batchDir / "git.bat", "@\"" + windowsPath(git.bin() + "/git.exe") + "\" %*\r\n");
  options.env["WINEPATH"] = windowsPath(batchDir.path());
  // The batch file's own line, "...\git.exe" %*, must fit too.
  for (const std::string& word :
       {std::string(4100, '%'), std::string(8200, 'p'), std::string(7500, 'p')}) {
    expectRun(hushmark({"freeze", word}, options), "", "hushmark: ArgumentListTooLong\n", 1);
  }
  EXPECT_FALSE(fileExists(git.bin() + "/calls"));
  expectRun(hushmark({"freeze", std::string(7000, 'p')}, options), "", "", 0);
  EXPECT_TRUE(fileExists(git.bin() + "/calls"));
}

TEST(WinRunner, GitInheritsEnvironmentAndDirectoryButNotInput) {
  StandInGit git;
  TempDir work;
  fs::create_directory(work / "a dir");
  RunOptions options = git.options(work / "a dir");
  options.input = "must not reach git\n";
  options.env["HUSHMARK_PROBE"] = "a b\tc=d'\"\\";
  expectRun(hushmark({"freeze", "a"}, options), "", "", 0);
  EXPECT_EQ(readFile(git.bin() + "/context"), windowsPath(work / "a dir") + "\na b\tc=d'\"\\\n");
}

// Only the path is searched: a git.exe or git.bat in the current directory
// (a repository's top) never runs, unless the path names that directory.
// A batch file on the path is found through PATHEXT and run by cmd.exe with
// its words intact.
TEST(WinRunner, GitIsFoundOnThePathOnly) {
  StandInGit onPath;
  StandInGit here;
  writeFile(here.bin() + "/git.bat", "@echo planted> planted.txt\r\n");
  expectRun(hushmark({"unfreeze", "a"}, onPath.options(here.bin())), "", "", 0);
  EXPECT_EQ(onPath.calls(), (Calls{{"update-index", "--no-skip-worktree", "--", "a"}}));
  EXPECT_FALSE(fileExists(here.bin() + "/calls"));
  EXPECT_FALSE(fileExists(here.bin() + "/planted.txt"));
  RunOptions dotFirst = onPath.options(here.bin());
  dotFirst.env["WINEPATH"] = ".;" + windowsPath(onPath.bin());
  expectRun(hushmark({"unfreeze", "b"}, dotFirst), "", "", 0);
  EXPECT_EQ(here.calls(), (Calls{{"update-index", "--no-skip-worktree", "--", "b"}}));

  // PATHEXT's scripts, which CreateProcessW cannot start, are passed over
  // for a later entry's git.exe.
  TempDir scripts;
  for (const char* name : {"git.vbs", "git.js", "git.msc"}) writeFile(scripts / name, "");
  RunOptions scriptsFirst = onPath.options();
  scriptsFirst.env["PATHEXT"] = ".COM;.VBS;.JS;.MSC;.EXE;.BAT;.CMD";
  scriptsFirst.env["WINEPATH"] = windowsPath(scripts.path()) + ";" + windowsPath(onPath.bin());
  expectRun(hushmark({"unfreeze", "c"}, scriptsFirst), "", "", 0);
  EXPECT_EQ(onPath.calls().back(),
            (std::vector<std::string>{"update-index", "--no-skip-worktree", "--", "c"}));

  StandInGit real;
  TempDir batchDir;
  writeFile(batchDir / "git.bat",
            "@\"" + windowsPath(real.bin() + "/git.exe") + "\" %*\r\n@exit /b %errorlevel%\r\n");
  real.set("update-index.code", "3");
  real.set("update-index.err", "from batch\n");
  RunOptions options;
  options.cwd = batchDir.path();
  options.env["WINEPATH"] = windowsPath(batchDir.path());
  // (Wine's cmd.exe loses a "%" that Windows keeps: none is tried here.)
  expectRun(hushmark({"freeze", "a b", "c&d", "(x)"}, options), "", "hushmark: from batch\n", 1);
  EXPECT_EQ(real.calls(), (Calls{{"update-index", "--skip-worktree", "--", "a b", "c&d", "(x)"}}));
}

TEST(WinFreeze, ExactWordsForGit) {
  StandInGit git;
  expectRun(hushmark({"freeze", "a", "dir/b"}, git.options()), "", "", 0);
  expectRun(hushmark({"unfreeze", "--", "-c"}, git.options()), "", "", 0);
  EXPECT_EQ(git.calls(), (Calls{{"update-index", "--skip-worktree", "--", "a", "dir/b"},
                                {"update-index", "--no-skip-worktree", "--", "-c"}}));
}

TEST(WinList, PatternsThenFrozenPaths) {
  StandInGit git;
  git.excludeAt(git.dir() + "/exclude");
  writeFile(git.dir() + "/exclude", "a\r\n\r\n  # note\n\tb \n# x");
  git.set("ls-files.out", std::string("H plain\0S dir/inner\0S caf\xc3\xa9\0", 31));
  expectRun(hushmark({"list"}, git.options()),
            "hide\ta\nhide\t  # note\nhide\t\tb \nfreeze\tdir/inner\nfreeze\tcaf\xc3\xa9\n", "", 0);
}

// hide and unhide on an exclude path that Git names with a drive root and
// backslashes.
struct EditRow {
  const char* name;
  const char* command;
  std::optional<std::string> before;  // nullopt: no info directory
  std::vector<std::string> args;
  std::optional<std::string> after;  // nullopt: still missing
};

const EditRow editRows[] = {
    {"HideIntoMissingInfo", "hide", std::nullopt, {"a"}, "a\n"},
    {"HideAfterLineWithoutLf", "hide", "a", {"b"}, "a\nb\n"},
    {"HideConvertsCrLf", "hide", "a\r\nb\r\n", {"x"}, "a\nb\nx\n"},
    {"HidePresentBehindCrLf", "hide", "a\r\nb\r\n", {"a"}, "a\r\nb\r\n"},
    {"HideRepeatedArgument", "hide", "", {"a", "b", "a"}, "a\nb\n"},
    {"HideKeepsBlankAndComment", "hide", "a\n\n# x\n", {"y"}, "a\n\n# x\ny\n"},
    {"UnhideEveryOccurrence", "unhide", "a\nb\na\n", {"a"}, "b\n"},
    {"UnhideOnlyLine", "unhide", "a\n", {"a"}, ""},
    {"UnhideFromMissingInfo", "unhide", std::nullopt, {"a"}, std::nullopt},
    {"UnhideConvertsCrLf", "unhide", "a\r\nb\r\n", {"a"}, "b\n"},
};

TEST(WinExclude, EditRowsLeaveTheExpectedFile) {
  for (const EditRow& row : editRows) {
    SCOPED_TRACE(row.name);
    StandInGit git;
    const std::string info = git.dir() + "/repo/.git/info";
    git.excludeAt(info + "/exclude");
    fs::create_directories(git.dir() + "/repo/.git");
    if (row.before) {
      fs::create_directories(info);
      writeFile(info + "/exclude", *row.before);
    }
    std::vector<std::string> args{row.command};
    args.insert(args.end(), row.args.begin(), row.args.end());
    expectRun(hushmark(args, git.options(git.dir() + "/repo")), "", "", 0);
    if (row.after) {
      EXPECT_EQ(readFile(info + "/exclude"), *row.after);
      std::vector<std::string> entries;
      for (const auto& entry : fs::directory_iterator(info)) {
        entries.push_back(entry.path().filename().string());
      }
      EXPECT_EQ(entries, std::vector<std::string>{"exclude"}) << "temporary file left";
    } else {
      EXPECT_FALSE(fs::exists(info));
    }
  }
}

TEST(WinExclude, RelativePathWithForwardSlashes) {
  StandInGit git;
  git.set("rev-parse.out", ".git/info/exclude\n");
  expectRun(hushmark({"hide", "x"}, git.options()), "", "", 0);
  EXPECT_EQ(readFile(git.dir() + "/.git/info/exclude"), "x\n");
  // A "\\?\" path takes no "/", but git may print one.
  std::string verbatim = "\\\\?\\" + windowsPath(git.dir());
  git.set("rev-parse.out", verbatim + "/.git/info/exclude\n");
  expectRun(hushmark({"hide", "y"}, git.options()), "", "", 0);
  EXPECT_EQ(readFile(git.dir() + "/.git/info/exclude"), "x\ny\n");
  // A git built for MSYS2 or Cygwin answers with a POSIX path, which would
  // name a file on the current drive's root: refused, nothing made.
  git.set("rev-parse.out", git.dir() + "/made/exclude\n");
  expectRun(hushmark({"hide", "z"}, git.options()), "",
            "hushmark: git returned an exclude path that is not a Windows path: " + git.dir() +
                "/made/exclude (git used: " + windowsPath(git.bin()) + "\\git.exe)\n",
            1);
  EXPECT_FALSE(fs::exists(git.dir() + "/made"));
}

// Wine shows a Unix symbolic link without its reparse attribute; the
// program still writes the file it finally names.
TEST(WinExclude, SymbolicLinkStaysAndTargetChanges) {
  StandInGit git;
  fs::create_directories(git.dir() + "/real");
  writeFile(git.dir() + "/real/exclude", "a\n");
  fs::create_symlink("real/exclude", git.dir() + "/link");
  git.excludeAt(git.dir() + "/link");
  expectRun(hushmark({"hide", "b"}, git.options()), "", "", 0);
  expectRun(hushmark({"unhide", "a"}, git.options()), "", "", 0);
  EXPECT_TRUE(fs::is_symlink(git.dir() + "/link"));
  EXPECT_EQ(readFile(git.dir() + "/real/exclude"), "b\n");
  EXPECT_EQ(fs::directory_iterator(git.dir() + "/real")->path().filename(), "exclude");
  // A link to nothing stays, and the file it names is made.
  fs::remove(git.dir() + "/real/exclude");
  expectRun(hushmark({"hide", "c"}, git.options()), "", "", 0);
  EXPECT_TRUE(fs::is_symlink(git.dir() + "/link"));
  EXPECT_EQ(readFile(git.dir() + "/real/exclude"), "c\n");
}

// The file keeps its permissions, which Wine keeps beneath the access list
// that Windows programs see.
TEST(WinExclude, PermissionsStay) {
  for (auto mode : {fs::perms(0600), fs::perms(0664), fs::perms(0640)}) {
    SCOPED_TRACE(static_cast<int>(mode));
    StandInGit git;
    git.excludeAt(git.dir() + "/exclude");
    writeFile(git.dir() + "/exclude", "a\n");
    fs::permissions(git.dir() + "/exclude", mode);
    expectRun(hushmark({"hide", "b"}, git.options()), "", "", 0);
    expectRun(hushmark({"unhide", "a"}, git.options()), "", "", 0);
    EXPECT_EQ(readFile(git.dir() + "/exclude"), "b\n");
    EXPECT_EQ(fs::status(git.dir() + "/exclude").permissions(), mode);
  }
}

TEST(WinExclude, FileErrorsKeepTheirNames) {
  StandInGit git;
  git.excludeAt(git.dir() + "/info/exclude");
  fs::create_directories(git.dir() + "/info/exclude");
  expectRun(hushmark({"hide", "a"}, git.options()), "", "error: IsDir\n", 1);
  expectRun(hushmark({"list"}, git.options()), "", "error: IsDir\n", 1);

  fs::remove_all(git.dir() + "/info");
  writeFile(git.dir() + "/info", "a file\n");
  expectRun(hushmark({"hide", "a"}, git.options()), "", "error: NotDir\n", 1);

  // Wine shows a file without write permission as read-only; even as root
  // the program refuses to replace it.
  fs::remove(git.dir() + "/info");
  fs::create_directories(git.dir() + "/info");
  writeFile(git.dir() + "/info/exclude", "a\n");
  fs::permissions(git.dir() + "/info/exclude", fs::perms::owner_read | fs::perms::group_read);
  expectRun(hushmark({"hide", "b"}, git.options()), "", "error: AccessDenied\n", 1);
  EXPECT_EQ(readFile(git.dir() + "/info/exclude"), "a\n");
}

TEST(WinExclude, SimultaneousHidesLoseNothing) {
  StandInGit git;
  git.excludeAt(git.dir() + "/info/exclude");
  std::string script;
  for (int i = 0; i < 6; ++i) {
    script += "\"$0\" \"$1\" hide p" + std::to_string(i) + " & ";
  }
  script += "wait";
  RunOptions options = git.options();
  RunResult result = run({"sh", "-c", script, wineRunner(), hushmarkBinary()}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  std::string content = readFile(git.dir() + "/info/exclude");
  for (int i = 0; i < 6; ++i) {
    EXPECT_NE(content.find("p" + std::to_string(i) + "\n"), std::string::npos) << content;
  }
  EXPECT_EQ(content.size(), 6u * 3);
}

}  // namespace
}  // namespace hushmark::test
