// The git runner seen from outside: the built program runs a stand-in `git`
// (a shell script first on PATH) whose streams, exit and surroundings each
// test chooses or inspects.
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace hushmark::test {
namespace {

constexpr std::size_t stdoutCap = 16 * 1024 * 1024;
constexpr std::size_t stderrCap = 1024 * 1024;

// Runs in the child before hushmark starts: hushmark inherits no descriptor
// but its three streams, and a run that stalls is ended by SIGALRM instead of
// hanging the suite.
void startClean() {
  ::close_range(3, ~0U, 0);
  ::alarm(120);
}

// A stand-in for git in a directory of its own. Every call appends its word
// count and words, each NUL-terminated, to a log; `rev-parse` answers with a
// path to a missing exclude file (so `list` reads nothing from it); any other
// call runs the body that the test gives.
class FakeGit {
 public:
  explicit FakeGit(const std::string& body) {
    std::filesystem::create_directory(dir_ / "bin");
    std::string script = "#!/bin/sh\nhere='" + dir_.path() + "'\n";
    script += "printf '%s\\0' \"$#\" \"$@\" >> \"$here/calls\"\n";
    script += "if [ \"$1\" = rev-parse ]; then\n";
    script += "  printf '%s\\n' \"$here/exclude\"\n";
    script += "  exit 0\n";
    script += "fi\n";
    writeScript(dir_ / "bin/git", script + body + "\n");
  }

  // A file beside the script, for the body to write or read.
  std::string file(const std::string& name) const { return dir_ / name; }

  RunOptions options() const {
    RunOptions options;
    const char* path = std::getenv("PATH");
    options.env["PATH"] = dir_ / "bin" + ":" + (path != nullptr ? path : "/usr/bin:/bin");
    options.beforeExec = startClean;
    return options;
  }

  // The words of every call, in call order.
  std::vector<std::vector<std::string>> calls() const { return readCallLog(file("calls")); }

 private:
  TempDir dir_;
};

std::string repeated(std::size_t count, char byte) {
  return std::string(count, byte);
}

TEST(GitRunner, MissingGitIsFileNotFound) {
  TempDir emptyBin;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"freeze", "a.txt"}, std::vector<std::string>{"unfreeze", "a.txt"},
        std::vector<std::string>{"list"}}) {
    SCOPED_TRACE(args.front());
    RunOptions options;
    options.env["PATH"] = emptyBin.path();
    options.beforeExec = startClean;
    RunResult result = hushmark(args, options);
    if (result.err == "hushmark: git command failed\n" && !spawnOfMissingProgramFails()) {
      GTEST_SKIP() << "the start of a missing git is reported as a success here, and the "
                      "program sees only git's 127 (an emulator's fault)";
    }
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "hushmark: FileNotFound\n");
    EXPECT_EQ(result.status, 1);
  }
}

// A git at the top of the current directory (a repository's author may
// have committed one) runs only where PATH names "."; an empty entry
// (leading, doubled, trailing, or all of an empty PATH) is not the current
// directory.
TEST(GitRunner, EmptyPathEntriesNeverRunTheCurrentDirectorysGit) {
  TempDir repo;
  TempDir emptyBin;
  writeScript(repo / "git", "#!/bin/sh\n: > planted\n");
  const std::string bin = emptyBin.path();
  for (const std::string& path :
       {":" + bin, bin + "::" + bin, bin + ":", std::string(), std::string(":")}) {
    SCOPED_TRACE("PATH=" + path);
    RunOptions options = at(repo.path(), {{"PATH", path}});
    options.beforeExec = startClean;
    expectFailure(hushmark({"freeze", "a"}, options), "hushmark: FileNotFound\n");
    EXPECT_FALSE(std::filesystem::exists(repo / "planted"));
  }
  RunOptions dot = at(repo.path(), {{"PATH", bin + ":."}});
  expectSilentSuccess(hushmark({"freeze", "a"}, dot));
  EXPECT_TRUE(std::filesystem::exists(repo / "planted"));
}

// Whether the process `pid` is gone, waiting a while for it.
bool goneSoon(pid_t pid) {
  for (int tries = 0; tries < 200; ++tries) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    ::usleep(10000);
  }
  return false;
}

// How one run of git ends, and what hushmark makes of it.
struct Ending {
  const char* name;
  std::string gitOut;
  std::string gitErr;
  const char* last;  // the script's last command
  std::string err;
  int status;
};

TEST(GitRunner, JudgesHowGitEnded) {
  const std::vector<Ending> endings = {
      {"silent success", "", "", "exit 0", "", 0},
      {"warnings on success are not shown", "index updated\n", "warning: x\nhint: y\n", "exit 0",
       "", 0},
      {"blanks on success", "", " \t\r\n", "exit 0", "", 0},
      {"diagnostic trimmed to one line feed", "", "  fatal: x \r\n\n", "exit 1",
       "hushmark: fatal: x\n", 1},
      {"diagnostic without line end", "", "fatal: x", "exit 128", "hushmark: fatal: x\n", 1},
      {"inner line breaks and blanks kept", "", "\terror: one\r\n\terror: two \t\n", "exit 2",
       "hushmark: error: one\r\n\terror: two\n", 1},
      {"high exit code", "", "boom\n", "exit 255", "hushmark: boom\n", 1},
      {"empty diagnostic", "", "", "exit 1", "hushmark: git command failed\n", 1},
      {"blank diagnostic", "", " \t\r\n \n", "exit 3", "hushmark: git command failed\n", 1},
      {"standard output only", "fatal: on stdout\n", "", "exit 1", "hushmark: git command failed\n",
       1},
      {"standard output never shown", "out\n", "err\n", "exit 1", "hushmark: err\n", 1},
      {"killed by SIGTERM", "", "", "kill -TERM $$", "hushmark: git command failed\n", 1},
      {"killed by SIGKILL after a diagnostic", "partial", "dying\n", "kill -KILL $$",
       "hushmark: dying\n", 1},
  };
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    FakeGit fake(std::string("cat \"$here/out\"\ncat \"$here/err\" >&2\n") + ending.last);
    writeFile(fake.file("out"), ending.gitOut);
    writeFile(fake.file("err"), ending.gitErr);
    RunResult result = hushmark({"freeze", "a.txt"}, fake.options());
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, ending.err);
    EXPECT_EQ(result.status, ending.status);
    EXPECT_EQ(result.signal, 0);
  }
}

TEST(GitRunner, ListAsksGitTwiceAndShowsNoWarning) {
  FakeGit git("printf 'H a\\0S b c\\0'\necho 'warning: noise' >&2\nexit 0");
  RunResult result = hushmark({"list"}, git.options());
  EXPECT_EQ(result.out, "freeze\tb c\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(git.calls(),
            (std::vector<std::vector<std::string>>{{"rev-parse", "--git-path", "info/exclude"},
                                                   {"ls-files", "-v", "-z"}}));
}

// Standard output is checked through `list`, whose cap counts only the
// entries that it lists: one frozen entry of the cap's size (NUL included),
// then NUL bytes, which list ignores; and through `freeze`, whose git output
// is collected. Standard error through `freeze`, whose success shows
// nothing.
TEST(GitRunner, OutputCaps) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string body;
    std::string out;
    std::string err;
    int status;
  };
  auto paddedListing = [](std::size_t total) {
    return "printf 'S big\\0'\nhead -c " + std::to_string(total - 6) + " /dev/zero\nexit 0";
  };
  auto listedEntry = [](std::size_t total) {
    return "printf 'S '\nhead -c " + std::to_string(total - 3) +
           " /dev/zero | tr '\\0' x\nprintf '\\0'\nhead -c 100000 /dev/zero\nexit 0";
  };
  auto diagnostic = [](std::size_t total, int code) {
    return "head -c " + std::to_string(total) + " /dev/zero | tr '\\0' w >&2\nexit " +
           std::to_string(code);
  };
  const std::vector<Case> cases = {
      {"listed entries at the cap",
       {"list"},
       listedEntry(stdoutCap),
       "freeze\t" + repeated(stdoutCap - 3, 'x') + "\n",
       "",
       0},
      {"listed entries one byte over",
       {"list"},
       listedEntry(stdoutCap + 1),
       "",
       "hushmark: StreamTooLong\n",
       1},
      {"unlisted entries beyond the cap",
       {"list"},
       paddedListing(stdoutCap + 1),
       "freeze\tbig\n",
       "",
       0},
      {"collected stdout one byte over",
       {"freeze", "a"},
       "head -c " + std::to_string(stdoutCap + 1) + " /dev/zero\nexit 0",
       "",
       "hushmark: StreamTooLong\n",
       1},
      {"stderr at the cap", {"freeze", "a"}, diagnostic(stderrCap, 0), "", "", 0},
      {"stderr one byte over",
       {"freeze", "a"},
       diagnostic(stderrCap + 1, 0),
       "",
       "hushmark: StreamTooLong\n",
       1},
      {"diagnostic at the cap",
       {"freeze", "a"},
       diagnostic(stderrCap, 1),
       "",
       "hushmark: " + repeated(stderrCap, 'w') + "\n",
       1},
      {"diagnostic one byte over",
       {"freeze", "a"},
       diagnostic(stderrCap + 1, 1),
       "",
       "hushmark: StreamTooLong\n",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeGit git(c.body);
    RunResult result = hushmark(c.args, git.options());
    EXPECT_EQ(result.out, c.out);
    EXPECT_TRUE(result.err == c.err)
        << "stderr: " << result.err.size() << " bytes, starting " << result.err.substr(0, 80);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.signal, 0);
  }
}

// Each stream is filled far beyond a pipe's buffer while the other has not
// been written yet; a runner that reads one stream to its end first stalls
// (and is then ended by the alarm).
TEST(GitRunner, BothStreamsDrainWithoutStalling) {
  const std::string fullStderr =
      "head -c " + std::to_string(stderrCap) + " /dev/zero | tr '\\0' e >&2\n";
  const std::string bigStdout = "printf 'S a\\0'\nhead -c 8000000 /dev/zero\n";
  for (const std::string& body :
       {fullStderr + bigStdout + "exit 0", bigStdout + fullStderr + "exit 0"}) {
    SCOPED_TRACE(body);
    FakeGit git(body);
    RunResult result = hushmark({"list"}, git.options());
    EXPECT_EQ(result.out, "freeze\ta\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.signal, 0) << "hushmark stalled";
  }
}

// hushmark ignores SIGPIPE for itself; git must start with the default
// disposition and with nothing blocked, even when hushmark was started with
// signals blocked.
TEST(GitRunner, GitStartsWithDefaultSignals) {
  // grep reads its own status: what it inherited from the shell, which got it
  // from hushmark (the shell itself blocks signals while it waits for one).
  FakeGit probe("exec grep -E '^Sig(Blk|Ign):' /proc/self/status > \"$here/signals\"");
  RunOptions options = probe.options();
  options.beforeExec = [] {
    startClean();
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
  };
  RunResult result = hushmark({"freeze", "a"}, options);
  ASSERT_EQ(result.status, 0) << result.err;

  std::istringstream lines(readFile(probe.file("signals")));
  std::string name, mask;
  std::set<std::string> seen;
  while (lines >> name >> mask) {
    seen.insert(name);
    unsigned long long bits = std::stoull(mask, nullptr, 16);
    if (name == "SigBlk:") {
      EXPECT_EQ(bits, 0u) << "blocked in git: " << mask;
    }
    if (name == "SigIgn:") {
      EXPECT_EQ(bits & (1ull << (SIGPIPE - 1)), 0u) << "SIGPIPE ignored in git: " << mask;
    }
  }
  EXPECT_EQ(seen, (std::set<std::string>{"SigBlk:", "SigIgn:"}));
}

// Standard input is the null device even when hushmark's own has data; the
// environment and the working directory are hushmark's.
TEST(GitRunner, GitInheritsEnvironmentAndDirectoryButNotInput) {
  FakeGit git(
      "readlink /proc/$$/fd/0 > \"$here/stdin-path\"\n"
      "cat > \"$here/stdin-bytes\"\n"
      "printf '%s' \"$HUSHMARK_PROBE\" > \"$here/probe\"\n"
      "printf '%s' \"${HUSHMARK_UNSET-unset}\" > \"$here/unset\"\n"
      "pwd -P > \"$here/cwd\"\n"
      "exit 0");
  TempDir work;
  std::filesystem::create_directory(work / "a dir");
  RunOptions options = git.options();
  options.cwd = work / "a dir";
  options.input = "must not reach git\n";
  options.env["HUSHMARK_PROBE"] = "a b\tc=d\n'\"\\";
  options.env["HUSHMARK_UNSET"] = std::nullopt;
  RunResult result = hushmark({"freeze", "a"}, options);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(git.file("stdin-path")), "/dev/null\n");
  EXPECT_EQ(readFile(git.file("stdin-bytes")), "");
  EXPECT_EQ(readFile(git.file("probe")), "a b\tc=d\n'\"\\");
  EXPECT_EQ(readFile(git.file("unset")), "unset");
  EXPECT_EQ(readFile(git.file("cwd")), std::filesystem::canonical(work / "a dir").string() + "\n");
}

// git gets hushmark's three streams and nothing else. The same script run
// directly shows which descriptors the shell and ls add by themselves.
TEST(GitRunner, NoDescriptorLeaksIntoGit) {
  FakeGit git("exec ls /proc/self/fd > \"$fds\"");
  RunOptions options = git.options();
  options.env["fds"] = git.file("direct");
  RunResult direct = run({git.file("bin/git"), "update-index"}, options);
  ASSERT_EQ(direct.status, 0) << direct.err;

  options.env["fds"] = git.file("through-hushmark");
  RunResult result = hushmark({"freeze", "a"}, options);
  ASSERT_EQ(result.status, 0) << result.err;
  std::string baseline = readFile(git.file("direct"));
  EXPECT_EQ(baseline.substr(0, 6), "0\n1\n2\n");
  EXPECT_EQ(readFile(git.file("through-hushmark")), baseline);
}

// A git that leaves a process behind holding its streams (a wrapper's
// "sleep &" before it execs git) is judged once it has ended, by its own
// status, with everything it wrote; the leftover is not waited for.
TEST(GitRunner, LeftoversHoldingGitsStreamsAreNotWaitedFor) {
  struct Case {
    std::vector<std::string> args;
    std::string body;
    std::string out;
    std::string err;
    int status;
  };
  const std::string leftover = "sleep 60 &\necho $! > \"$here/leftover\"\n";
  for (const Case& c : std::vector<Case>{
           {{"list"}, leftover + "printf 'S a\\0'\nexit 0", "freeze\ta\n", "", 0},
           {{"freeze", "a"}, leftover + "echo boom >&2\nexit 1", "", "hushmark: boom\n", 1},
       }) {
    SCOPED_TRACE(c.body);
    FakeGit git(c.body);
    auto started = std::chrono::steady_clock::now();
    RunResult result = hushmark(c.args, git.options());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    ::kill(static_cast<pid_t>(std::stol(readFile(git.file("leftover")))), SIGKILL);
  }
}

// When collection fails, hushmark ends git and waits for it: nothing is
// left running once hushmark has exited, and a git deaf to the request to
// end is killed soon after.
TEST(GitRunner, NoGitOutlivesAFailedCollection) {
  const std::string zeros = "head -c 65536 /dev/zero > \"$here/chunk\"\n";
  const std::vector<std::pair<const char*, std::string>> bodies = {
      {"too much output, then idle",
       "head -c " + std::to_string(stdoutCap + 1) + " /dev/zero\nexec sleep 600"},
      {"too much output, then idle and deaf to SIGTERM",
       "trap '' TERM\nhead -c " + std::to_string(stdoutCap + 1) + " /dev/zero\nexec sleep 600"},
      {"too much output from a wrapper's child, deaf to SIGTERM",
       "trap '' TERM\nsh -c 'trap \"\" TERM; echo $$ > \"$0/pid\"; head -c " +
           std::to_string(stdoutCap + 1) + " /dev/zero; exec sleep 600' \"$here\"\nexit 0"},
      {"diagnostic without end, deaf to broken pipes",
       zeros + "trap '' PIPE\nwhile :; do cat \"$here/chunk\" >&2 2>/dev/null; done"},
  };
  for (const auto& [name, body] : bodies) {
    SCOPED_TRACE(name);
    FakeGit git("echo $$ > \"$here/pid\"\n" + body);
    RunOptions options = git.options();
    auto started = std::chrono::steady_clock::now();
    RunResult result = hushmark({"freeze", "a"}, options);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "hushmark: StreamTooLong\n");
    EXPECT_EQ(result.status, 1);

    std::string pidText = readFile(git.file("pid"));
    ASSERT_FALSE(pidText.empty());
    pid_t pid = static_cast<pid_t>(std::stol(pidText));
    bool gone = goneSoon(pid);
    EXPECT_TRUE(gone) << "git " << pid << " outlived hushmark";
    if (!gone) ::kill(pid, SIGKILL);
  }
}

// A signal that ends hushmark while git hangs ends git first, also a git
// deaf to the polite request, and the real git that a wrapper script runs
// as its child; hushmark then ends by the same signal.
TEST(GitRunner, NoGitOutlivesASignal) {
  const std::string recordPid = "echo $$ > \"$here/pid.new\"; mv \"$here/pid.new\" \"$here/pid\"; ";
  for (const std::string& body :
       {recordPid + "exec sleep 600", recordPid + "trap '' TERM; exec sleep 600",
        "sh -c '" + recordPid + "exec sleep 600'\nexit 0",
        "trap '' TERM\nsh -c 'trap \"\" TERM; " + recordPid + "exec sleep 600'\nexit 0"}) {
    SCOPED_TRACE(body);
    FakeGit git("export here\n" + body);
    StartedRun running = start({hushmarkBinary(), "freeze", "a"}, git.options());
    while (!std::filesystem::exists(git.file("pid"))) ::usleep(10000);
    ::kill(running.pid, SIGTERM);
    RunResult result = finish(running);
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_EQ(result.out + result.err, "");

    pid_t pid = static_cast<pid_t>(std::stol(readFile(git.file("pid"))));
    bool gone = goneSoon(pid);
    EXPECT_TRUE(gone) << "git " << pid << " outlived hushmark";
    if (!gone) ::kill(pid, SIGKILL);
  }
}

}  // namespace
}  // namespace hushmark::test
