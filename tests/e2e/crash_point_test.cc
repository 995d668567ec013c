// hide and unhide killed at each of their system calls: strace kills the
// program (not its git) with SIGKILL just before the N-th call of each
// name, for every call from the one where it first learns the exclude
// file's path to its end (before that it has touched nothing of the file).
// After every kill Git reads the old patterns or the new ones, and the
// next run ends with the new ones and leaves no temporary file behind.
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace hushmark::test {
namespace {

namespace fs = std::filesystem;

// The patterns Git reads from the content: one byte order mark skipped, the
// content split on LF, one CR before it dropped, each line read up to its
// first NUL, trailing unescaped spaces trimmed, comments and blank lines
// left out.
std::vector<std::string> patternsOf(std::string content) {
  if (content.starts_with("\xEF\xBB\xBF")) content.erase(0, 3);
  if (!content.empty() && content.back() != '\n') content += '\n';
  std::vector<std::string> patterns;
  for (std::size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string line = content.substr(start, end - start);
    if (line.ends_with('\r')) line.pop_back();
    line = line.substr(0, line.find('\0'));
    if (line.starts_with('#')) continue;
    std::size_t keep = line.size();
    while (keep > 0 && line[keep - 1] == ' ') --keep;
    std::size_t backslashes = 0;
    while (backslashes < keep && line[keep - 1 - backslashes] == '\\') ++backslashes;
    if (keep < line.size() && backslashes % 2 == 1) ++keep;
    line.resize(keep);
    if (!line.empty()) patterns.push_back(line);
  }
  return patterns;
}

// The calls of a traced run in order: each one's name, and which call of
// that name it is, as strace's `when=` counts them.
struct Call {
  std::string name;
  int occurrence;
  std::string line;
};

std::vector<Call> callsIn(const std::string& log) {
  std::vector<Call> calls;
  std::map<std::string, int> seen;
  std::istringstream lines(readFile(log));
  for (std::string line; std::getline(lines, line);) {
    std::size_t paren = line.find('(');
    if (line.starts_with("---") || line.starts_with("+++") || paren == std::string::npos) continue;
    std::string name = line.substr(0, paren);
    calls.push_back({name, ++seen[name], line});
  }
  return calls;
}

// strace running the program with `args`, `options` first.
std::vector<std::string> underStrace(std::vector<std::string> options,
                                     const std::vector<std::string>& args) {
  std::vector<std::string> argv{"strace", "-qq"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(hushmarkBinary());
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::vector<std::string> namesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

enum class Route { Rename, HardLink, ReadOnlyDirectory, NewFile };

struct CrashRow {
  const char* name;
  Route route;
  // nullopt: no file yet.
  std::optional<std::string> before;
  std::vector<std::string> args;
  std::string after;
};

void PrintTo(const CrashRow& row, std::ostream* os) {
  *os << row.name;
}

const CrashRow crashRows[] = {
    {"RenameHide", Route::Rename, "ab\nx/*\n", {"hide", "newpat"}, "ab\nx/*\nnewpat\n"},
    {"RenameUnhide", Route::Rename, "ab\nx/*\n", {"unhide", "ab"}, "x/*\n"},
    {"HardLinkHide", Route::HardLink, "ab\nx/*\n", {"hide", "new1\nnew2"}, "ab\nx/*\nnew1\nnew2\n"},
    {"HardLinkUnhide", Route::HardLink, "ab\nx/*\n", {"unhide", "ab"}, "x/*\n"},
    {"ReadOnlyDirectoryHide",
     Route::ReadOnlyDirectory,
     "ab\nx/*\n",
     {"hide", "newpat"},
     "ab\nx/*\nnewpat\n"},
    {"ReadOnlyDirectoryUnhide", Route::ReadOnlyDirectory, "ab\nx/*\n", {"unhide", "ab"}, "x/*\n"},
    {"NewFileHide", Route::NewFile, std::nullopt, {"hide", "newpat"}, "newpat\n"},
    {"CrLfHide",
     Route::HardLink,
     "ab\r\nlongline\r\n",
     {"hide", "newpat"},
     "ab\nlongline\nnewpat\n"},
    {"CrLfUnhide", Route::HardLink, "ab\r\nlongline\r\n", {"unhide", "ab"}, "longline\n"},
};

class CrashPointTest : public ::testing::TestWithParam<CrashRow> {};

// Where the read-only directory must hold for root too: the run has no
// capability to override file permissions.
void dropOverrides() {
  for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
    if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) _exit(125);
  }
}

TEST_P(CrashPointTest, EveryKillLeavesOldOrNewPatterns) {
  const CrashRow& row = GetParam();
  GitRepo repo;
  const std::string info = repo / ".git/info";
  const std::string exclude = repo.excludePath();
  const std::string other = repo / ".git/other-name";
  auto prepare = [&] {
    fs::permissions(info, fs::perms(0755));
    fs::remove(exclude);
    fs::remove(other);
    for (const auto& entry : fs::directory_iterator(info)) fs::remove(entry.path());
    if (row.before) writeFile(exclude, *row.before);
    if (row.route == Route::HardLink) fs::create_hard_link(exclude, other);
    if (row.route == Route::ReadOnlyDirectory) fs::permissions(info, fs::perms(0555));
  };
  RunOptions options = at(repo.path(), {{"ASAN_OPTIONS", "detect_leaks=0"}});
  if (row.route == Route::ReadOnlyDirectory) options.beforeExec = dropOverrides;
  TempDir logs;
  const std::string log = logs / "trace";

  // Every call of a whole run, and from which one on to kill.
  prepare();
  RunResult traced = run(underStrace({"-o", log}, row.args), options);
  if (traced.status == 125) GTEST_SKIP() << "cannot drop capabilities here";
  if (traced.status != 0 && !fileExists(log)) GTEST_SKIP() << "no strace here: " << traced.err;
  ASSERT_EQ(traced.status, 0) << traced.err;
  ASSERT_EQ(patternsOf(readFile(exclude)), patternsOf(row.after));
  std::vector<Call> points = callsIn(log);
  auto first = std::find_if(points.begin(), points.end(), [](const Call& call) {
    return call.line.find("/info") != std::string::npos;
  });
  points.erase(points.begin(), first);
  ASSERT_FALSE(points.empty());

  const std::vector<std::string> oldPatterns = patternsOf(row.before.value_or(""));
  const std::vector<std::string> newPatterns = patternsOf(row.after);
  int killed = 0;
  for (const Call& point : points) {
    SCOPED_TRACE(point.line);
    prepare();
    RunResult result = run(
        underStrace(
            {"-o", "/dev/null", "-e",
             "inject=" + point.name + ":signal=SIGKILL:when=" + std::to_string(point.occurrence)},
            row.args),
        options);
    killed += result.status != 0;
    std::string content = fileExists(exclude) ? readFile(exclude) : "";
    std::vector<std::string> read = patternsOf(content);
    EXPECT_TRUE(read == oldPatterns || read == newPatterns) << testing::PrintToString(content);

    std::vector<std::string> again{hushmarkBinary()};
    again.insert(again.end(), row.args.begin(), row.args.end());
    expectSilentSuccess(run(again, options));
    EXPECT_EQ(patternsOf(readFile(exclude)), newPatterns);
    if (row.route == Route::HardLink) {
      EXPECT_EQ(readFile(other), readFile(exclude));
    }
    EXPECT_EQ(namesIn(info), std::vector<std::string>{"exclude"});
  }
  std::cout << "[ " << points.size() << " kill points, " << killed << " runs killed ]\n";
}

INSTANTIATE_TEST_SUITE_P(Table, CrashPointTest, ::testing::ValuesIn(crashRows),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// What another program does to the file while a run is at work: strace
// holds the run for a while at one of its calls, the test acts meanwhile.

struct WindowRow {
  const char* name;
  std::optional<std::string> before;
  // The call held, found by these bytes in its traced line: one on every
  // route, after the file was read.
  const char* heldAt;
  // What happens meanwhile, given the repository's info directory.
  void (*meanwhile)(const std::string& info);
  // The exclude file afterwards (followed where it is a link), and its mode.
  std::string after;
  mode_t mode;
};

void PrintTo(const WindowRow& row, std::ostream* os) {
  *os << row.name;
}

const std::string gitTemplate =
    "# git ls-files --others --exclude-from=.git/info/exclude\n"
    "# Lines that start with '#' are comments.\n";

const WindowRow windowRows[] = {
    // A file made where there was none (git init again) is edited as found.
    {"FileAppearsBeforeItIsMade", std::nullopt, "/exclude\", O_WRONLY|O_CREAT|O_EXCL",
     [](const std::string& info) { writeFile(info + "/exclude", gitTemplate); },
     gitTemplate + "b\n", 0644},
    // A link put in the file's place: the file it leads to is read and edited.
    {"LinkPutInItsPlace", "a\n", "faccessat",
     [](const std::string& info) {
       writeFile(info + "/../victim", "victim\n");
       fs::remove(info + "/exclude");
       fs::create_symlink("../victim", info + "/exclude");
     },
     "victim\nb\n", 0644},
    // An editor saves a new file in its place: that one is edited.
    {"FileSavedInItsPlace", "a\n", "faccessat",
     [](const std::string& info) {
       writeFile(info + "/saved", "saved\n");
       fs::rename(info + "/saved", info + "/exclude");
     },
     "saved\nb\n", 0644},
    // Protection changed while the new content is written is kept.
    {"ModeChangedMeanwhile", "a\n", "pwrite64(",
     [](const std::string& info) { fs::permissions(info + "/exclude", fs::perms(0600)); }, "a\nb\n",
     0600},
};

class WindowTest : public ::testing::TestWithParam<WindowRow> {};

TEST_P(WindowTest, RunWritesOnlyWhatItRead) {
  const WindowRow& row = GetParam();
  GitRepo repo;
  const std::string info = repo / ".git/info";
  fs::remove(repo.excludePath());
  if (row.before) writeFile(repo.excludePath(), *row.before);
  RunOptions options = at(repo.path(), {{"ASAN_OPTIONS", "detect_leaks=0"}});
  TempDir logs;
  const std::string log = logs / "trace";
  RunResult traced = run(underStrace({"-o", log}, {"hide", "b"}), options);
  if (traced.status != 0 && !fileExists(log)) GTEST_SKIP() << "no strace here: " << traced.err;
  ASSERT_EQ(traced.status, 0) << traced.err;
  std::vector<Call> calls = callsIn(log);
  auto held = std::find_if(calls.begin(), calls.end(), [&](const Call& call) {
    return call.line.find(row.heldAt) != std::string::npos;
  });
  ASSERT_NE(held, calls.end());

  fs::remove(repo.excludePath());
  if (row.before) writeFile(repo.excludePath(), *row.before);
  StartedRun running = start(underStrace({"-o", "/dev/null", "-e",
                                          "inject=" + held->name + ":delay_enter=2000000:when=" +
                                              std::to_string(held->occurrence)},
                                         {"hide", "b"}),
                             options);
  ::usleep(1000000);
  row.meanwhile(info);
  RunResult result = finish(running);
  expectSilentSuccess(result);
  EXPECT_EQ(readFile(repo.excludePath()), row.after);
  struct stat status {};
  ASSERT_EQ(::stat(repo.excludePath().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, row.mode);
  EXPECT_EQ(namesIn(info), std::vector<std::string>{"exclude"});
}

INSTANTIATE_TEST_SUITE_P(Table, WindowTest, ::testing::ValuesIn(windowRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hushmark::test
