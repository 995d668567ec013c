// hide and unhide against real Git repositories: the exact bytes of the
// exclude file afterwards, whether it was rewritten at all, and what the
// program prints.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/harness.h"

// Whether the program reads extended attributes (so that a file's access
// lists can go to a new file); without, it writes existing files in place.
#ifndef HUSHMARK_HAVE_XATTR
#define HUSHMARK_HAVE_XATTR 0
#endif

extern char** environ;

namespace hushmark::test {
namespace {

namespace fs = std::filesystem;

// What tells a rewritten file from an untouched one.
struct Stamp {
  ino_t inode = 0;
  timespec mtime{};
  mode_t mode = 0;
  off_t size = 0;
};

Stamp stampOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return {info.st_ino, info.st_mtim, info.st_mode, info.st_size};
}

// Gives the file an old modification time, so that a rewrite would show.
void age(const std::string& path) {
  timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0) << path;
}

void expectUntouched(const std::string& path, const Stamp& before) {
  Stamp after = stampOf(path);
  EXPECT_EQ(after.inode, before.inode) << "file replaced";
  EXPECT_EQ(after.mtime.tv_sec, before.mtime.tv_sec) << "file written";
  EXPECT_EQ(after.mtime.tv_nsec, before.mtime.tv_nsec) << "file written";
}

std::vector<std::string> entriesOf(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string infoDir(const GitRepo& repo) {
  return repo / ".git/info";
}

// A file of exactly `size` bytes: one long comment line, then `last`
// without a line feed.
std::string fileOfSize(std::size_t size, const std::string& last) {
  std::string content = "#";
  content.append(size - 2 - last.size(), 'x');
  content += "\n" + last;
  return content;
}

// ---------------------------------------------------------------------------
// Every row of the command table, end to end.

enum class After { Holds, NotRewritten, StillMissing };

struct EditRow {
  const char* name;
  const char* command;
  // nullopt: no exclude file.
  std::optional<std::string> before;
  bool infoMissing;
  std::vector<std::string> args;
  After outcome;
  std::string after;
  // When set: the path whose verdict `git check-ignore` gives afterwards,
  // and whether Git ignores it.
  const char* judged = nullptr;
  bool ignored = false;
};

void PrintTo(const EditRow& row, std::ostream* os) {
  *os << row.name;
}

const std::string bom = "\xEF\xBB\xBF";

// A string with NUL bytes inside.
template <std::size_t N>
std::string nul(const char (&bytes)[N]) {
  return std::string(bytes, N - 1);
}

const EditRow editRows[] = {
    {"HideIntoMissingInfo", "hide", std::nullopt, true, {"a"}, After::Holds, "a\n"},
    {"HideAfterLineWithoutLf", "hide", "a", false, {"b"}, After::Holds, "a\nb\n"},
    {"HideConvertsCrLf", "hide", "a\r\nb\r\n", false, {"x"}, After::Holds, "a\nb\nx\n"},
    {"HidePresentBehindCrLf", "hide", "a\r\nb\r\n", false, {"a"}, After::NotRewritten, ""},
    {"HidePresentWithoutLf", "hide", "a", false, {"a"}, After::NotRewritten, ""},
    {"HideRepeatedArgument", "hide", "", false, {"a", "b", "a"}, After::Holds, "a\nb\n"},
    {"HideNormalisedArgument", "hide", "a\n", false, {" b\t", "b"}, After::Holds, "a\nb\n"},
    {"HideBesideIndentedLine", "hide", " a\n", false, {"a"}, After::Holds, " a\na\n"},
    {"HidePresentBeforeTrailingBlanks", "hide", "a  \n", false, {"a"}, After::NotRewritten, ""},
    {"HideKeepsBlankAndComment", "hide", "a\n\n# x\n", false, {"y"}, After::Holds, "a\n\n# x\ny\n"},
    {"HideComment", "hide", "# x\n", false, {"# x"}, After::NotRewritten, ""},
    {"HideKeepsDuplicates", "hide", "a\na\n", false, {"b"}, After::Holds, "a\na\nb\n"},
    {"HideBlank", "hide", "a\n", false, {" "}, After::NotRewritten, ""},
    {"UnhideEveryOccurrence", "unhide", "a\nb\na\n", false, {"a"}, After::Holds, "b\n"},
    {"UnhideOnlyLine", "unhide", "a\n", false, {"a"}, After::Holds, ""},
    {"UnhideAbsent", "unhide", "a\nb\n", false, {"x"}, After::NotRewritten, ""},
    {"UnhideFromMissingInfo", "unhide", std::nullopt, true, {"a"}, After::StillMissing, ""},
    {"UnhideFromMissingFile", "unhide", std::nullopt, false, {"a"}, After::StillMissing, ""},
    {"UnhideConvertsCrLf", "unhide", "a\r\nb\r\n", false, {"a"}, After::Holds, "b\n"},
    {"UnhideTrailingBlanks", "unhide", "a  \nb\n", false, {"a"}, After::Holds, "b\n", "a"},
    {"UnhideNormalisedArgument", "unhide", " a\n", false, {" a "}, After::NotRewritten, ""},
    {"UnhideKeepsBlankLine", "unhide", "a\n\nb\n", false, {"a"}, After::Holds, "\nb\n"},
    {"UnhideSeveral", "unhide", "a\nb\nx\n", false, {"x", "a"}, After::Holds, "b\n"},
    {"UnhideBlanks", "unhide", "a\n", false, {" ", "\t"}, After::NotRewritten, ""},
    {"UnhideComment", "unhide", "# a\n", false, {"# a"}, After::Holds, ""},
    // An argument with a line feed inside is one pattern per line.
    {"HideInnerLineFeed", "hide", "a\n", false, {"b\nc"}, After::Holds, "a\nb\nc\n"},
    {"HideInnerLineFeedAgain", "hide", "b\nc\n", false, {"b\nc"}, After::NotRewritten, ""},
    {"UnhideInnerLineFeed", "unhide", "b\nc\n", false, {"b\nc"}, After::Holds, "", "c"},
    // A byte order mark belongs to no line, and a rewrite keeps it first.
    {"HideBehindMark", "hide", bom + "a\n", false, {"a"}, After::NotRewritten, ""},
    {"UnhideMark", "unhide", bom + "a\nb\n", false, {"a"}, After::Holds, bom + "b\n", "a"},
    {"UnhideMarkLed",
     "unhide",
     "a\n" + bom + "b\n",
     false,
     {"a"},
     After::Holds,
     bom + bom + "b\n",
     "b"},
    // One CR ends a line; a line that still ends in CR keeps it.
    {"HideBesideCrCr", "hide", "a\r\r\n", false, {"a"}, After::Holds, "a\r\r\na\n", "a", true},
    {"UnhideCrCr", "unhide", "a\r\r\nc\n", false, {"a", "c"}, After::Holds, "a\r\r\n", "a\r", true},
    // A trailing space behind an odd number of backslashes is escaped, and
    // Git matches it: it stays, and the trim stops there.
    {"HideEscapedTrailingBlank",
     "hide",
     "",
     false,
     {"t\\  ", "u\\\\ "},
     After::Holds,
     "t\\ \nu\\\\\n"},
    // Git reads a line only up to its first NUL; a rewrite keeps the rest.
    {"HidePresentBeforeNul", "hide", nul("a \0b\n"), false, {"a"}, After::NotRewritten, ""},
    {"HideKeepsNulLine", "hide", nul("a\0b\r\n"), false, {"x"}, After::Holds, nul("a\0b\nx\n")},
    {"UnhideNulLine", "unhide", nul("a\0b\nc\n"), false, {"a"}, After::Holds, "c\n", "a"},
    {"UnhideEscapedTrailingBlank",
     "unhide",
     "t\\ \nt\\\n",
     false,
     {"t\\ \t"},
     After::Holds,
     "t\\\n"},
};

class EditRowTest : public ::testing::TestWithParam<EditRow> {};

TEST_P(EditRowTest, LeavesTheExpectedFile) {
  const EditRow& row = GetParam();
  GitRepo repo;
  const std::string path = repo.excludePath();
  if (row.infoMissing) {
    fs::remove_all(infoDir(repo));
  } else if (row.before) {
    writeFile(path, *row.before);
    age(path);
  } else {
    fs::remove(path);
  }
  std::optional<Stamp> before;
  if (row.before) before = stampOf(path);

  std::vector<std::string> args{row.command};
  args.insert(args.end(), row.args.begin(), row.args.end());
  expectSilentSuccess(repo.hushmark(args));

  switch (row.outcome) {
    case After::Holds:
      EXPECT_EQ(readFile(path), row.after);
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
      EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
      break;
    case After::NotRewritten:
      EXPECT_EQ(readFile(path), *row.before);
      expectUntouched(path, *before);
      EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
      break;
    case After::StillMissing:
      EXPECT_FALSE(fileExists(path));
      EXPECT_EQ(fileExists(infoDir(repo)), !row.infoMissing);
      if (!row.infoMissing) {
        EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{});
      }
      break;
  }
  if (row.judged) {
    RunResult verdict =
        run({"git", "check-ignore", "-q", "--no-index", "--", row.judged}, at(repo.path()));
    EXPECT_EQ(verdict.status, row.ignored ? 0 : 1) << verdict.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EditRowTest, ::testing::ValuesIn(editRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExcludeEditTest, RepeatedHideLeavesFileAlone) {
  GitRepo repo;
  fs::remove_all(infoDir(repo));
  expectSilentSuccess(repo.hushmark({"hide", "build/"}));
  ASSERT_EQ(readFile(repo.excludePath()), "build/\n");
  age(repo.excludePath());
  Stamp before = stampOf(repo.excludePath());
  expectSilentSuccess(repo.hushmark({"hide", "build/"}));
  expectUntouched(repo.excludePath(), before);
  expectSilentSuccess(repo.hushmark({"unhide", "build/"}));
  EXPECT_EQ(readFile(repo.excludePath()), "");
}

// ---------------------------------------------------------------------------
// Where the file is: what Git names, from wherever the command runs.

TEST(ExcludeLocationTest, RunFromSubdirectory) {
  GitRepo repo;
  fs::create_directories(repo / "sub/deeper");
  writeFile(repo.excludePath(), "old\n");
  expectSilentSuccess(repo.hushmark({"hide", "new"}, at("sub/deeper")));
  EXPECT_EQ(readFile(repo.excludePath()), "old\nnew\n");
  expectSilentSuccess(repo.hushmark({"unhide", "old"}, at("sub")));
  EXPECT_EQ(readFile(repo.excludePath()), "new\n");
  EXPECT_FALSE(fileExists(repo / "sub/deeper/.git"));
}

TEST(ExcludeLocationTest, RepositoryPathWithBlanks) {
  // With GIT_DIR set, Git names the file by its absolute path, blanks and all.
  GitRepo repo(" my repo ");
  fs::remove_all(infoDir(repo));
  RunOptions options = at("", {{"GIT_DIR", repo / ".git"}});
  expectSilentSuccess(repo.hushmark({"hide", "a b"}, options));
  EXPECT_EQ(readFile(repo.excludePath()), "a b\n");
  expectSilentSuccess(repo.hushmark({"hide", "c"}, at(".git")));
  EXPECT_EQ(readFile(repo.excludePath()), "a b\nc\n");
  expectSilentSuccess(repo.hushmark({"unhide", "a b"}, options));
  EXPECT_EQ(readFile(repo.excludePath()), "c\n");
}

TEST(ExcludeLocationTest, BlanksAroundGitsAnswerBelongToThePath) {
  // Git answers " r/.git/info/exclude"; "r/.git/info/exclude" is another file.
  GitRepo repo(" r");
  expectSilentSuccess(repo.hushmark({"hide", "x"}, at("..", {{"GIT_DIR", " r/.git"}})));
  EXPECT_TRUE(readFile(repo.excludePath()).ends_with("\nx\n"));
  EXPECT_FALSE(fileExists(repo / "../r"));
}

TEST(ExcludeLocationTest, LinkedWorktreeWritesTheFileGitNames) {
  GitRepo repo("main repo");
  repo.commitFiles({"tracked"});
  repo.git({"worktree", "add", "-q", "--detach", "../linked wt"});
  RunResult named =
      run({"git", "rev-parse", "--git-path", "info/exclude"}, at(repo / "../linked wt"));
  ASSERT_EQ(named.status, 0);
  std::string path = named.out.substr(0, named.out.find('\n'));
  // A Windows git under Wine names the Unix root "Z:".
  if (path.starts_with("Z:/")) path.erase(0, 2);
  if (!path.starts_with("/")) path = repo / "../linked wt/" + path;
  ASSERT_TRUE(fileExists(path));
  writeFile(path, "shared\n");

  expectSilentSuccess(repo.hushmark({"hide", "from-wt"}, at("../linked wt")));
  EXPECT_EQ(readFile(path), "shared\nfrom-wt\n");
  EXPECT_FALSE(fileExists(repo / "../linked wt/.git/info"));
  // Git honours it in the linked worktree.
  writeFile(repo / "../linked wt/from-wt", "x");
  EXPECT_EQ(run({"git", "status", "--porcelain"}, at(repo / "../linked wt")).out, "");

  expectSilentSuccess(repo.hushmark({"unhide", "shared"}, at("../linked wt")));
  EXPECT_EQ(readFile(path), "from-wt\n");
}

TEST(ExcludeLocationTest, OutsideRepositoryReportsGitsComplaint) {
  TempDir dir;
  RunOptions options = at(dir.path(), {{"GIT_CEILING_DIRECTORIES", dir.path()}});
  RunResult git = run({"git", "rev-parse", "--git-path", "info/exclude"}, options);
  ASSERT_NE(git.status, 0);
  ASSERT_TRUE(git.err.starts_with("fatal: not a git repository")) << git.err;
  std::string complaint = git.err.substr(0, git.err.find_last_not_of(" \t\r\n") + 1);
  for (const char* command : {"hide", "unhide"}) {
    SCOPED_TRACE(command);
    expectFailure(hushmark({command, "a"}, options), "hushmark: " + complaint + "\n");
    expectFailure(hushmark({command, " "}, options), "hushmark: " + complaint + "\n");
  }
  EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------
// Reading and writing failures.

TEST(ExcludeFileTest, PathNamingDirectoryIsIsDir) {
  GitRepo repo;
  fs::remove(repo.excludePath());
  fs::create_directory(repo.excludePath());
  for (const char* command : {"hide", "unhide"}) {
    for (const char* pattern : {"a", "\t"}) {
      SCOPED_TRACE(std::string(command) + " " + pattern);
      expectFailure(repo.hushmark({command, pattern}), "error: IsDir\n");
    }
  }
  EXPECT_TRUE(fs::is_directory(repo.excludePath()));
  EXPECT_EQ(entriesOf(repo.excludePath()), std::vector<std::string>{});
  EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
}

TEST(ExcludeFileTest, InfoBeingAFileIsNotDir) {
  GitRepo repo;
  fs::remove_all(infoDir(repo));
  writeFile(infoDir(repo), "not a directory\n");
  for (const char* command : {"hide", "unhide"}) {
    for (const char* pattern : {"a", " "}) {
      SCOPED_TRACE(std::string(command) + " " + pattern);
      expectFailure(repo.hushmark({command, pattern}), "error: NotDir\n");
    }
  }
  EXPECT_TRUE(fs::is_regular_file(infoDir(repo)));
  EXPECT_EQ(readFile(infoDir(repo)), "not a directory\n");
}

TEST(ExcludeFileTest, LargestFileIsReadWhole) {
  GitRepo repo;
  const std::string content = fileOfSize(16777215, "last");
  writeFile(repo.excludePath(), content);
  age(repo.excludePath());
  Stamp before = stampOf(repo.excludePath());
  ASSERT_EQ(before.size, 16777215);
  expectSilentSuccess(repo.hushmark({"hide", "last"}));
  expectSilentSuccess(repo.hushmark({"unhide", "absent"}));
  expectUntouched(repo.excludePath(), before);

  expectSilentSuccess(repo.hushmark({"unhide", "last"}));
  EXPECT_EQ(readFile(repo.excludePath()), content.substr(0, content.size() - 4));
}

TEST(ExcludeFileTest, FileOfSixteenMebibytesIsTooLong) {
  GitRepo repo;
  const std::string content = fileOfSize(16777216, "last");
  writeFile(repo.excludePath(), content);
  age(repo.excludePath());
  Stamp before = stampOf(repo.excludePath());
  for (const char* command : {"hide", "unhide"}) {
    // Blank arguments change nothing, yet the file is still read.
    for (const char* pattern : {"last", "new", " "}) {
      SCOPED_TRACE(std::string(command) + " " + pattern);
      expectFailure(repo.hushmark({command, pattern}), "error: StreamTooLong\n");
    }
  }
  expectUntouched(repo.excludePath(), before);
  EXPECT_TRUE(readFile(repo.excludePath()) == content);
  EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
}

// Sparse files of 2 GiB and more are refused as the 16 MiB one is, also
// where the system's own file offsets are 32 bits: past what a signed one
// holds, past what an unsigned one holds, and both. A size the file system
// here cannot make is left out.
TEST(ExcludeFileTest, FilesOfGibibytesAreTooLong) {
  constexpr std::uint64_t gibibyte = std::uint64_t{1} << 30;
  GitRepo repo;
  int made = 0;
  for (std::uint64_t size : {2 * gibibyte, 3 * gibibyte, 5 * gibibyte}) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    writeFile(repo.excludePath(), "last\n");
    if (::truncate(repo.excludePath().c_str(), static_cast<off_t>(size)) != 0) {
      std::cout << "no file of " << size << " bytes here: " << std::strerror(errno) << "\n";
      continue;
    }
    ++made;
    age(repo.excludePath());
    Stamp before = stampOf(repo.excludePath());
    const std::vector<std::vector<std::string>> runs{
        {"hide", "last"}, {"hide", "new"}, {"unhide", "last"}, {"list"}};
    for (const auto& args : runs) {
      SCOPED_TRACE(args[0]);
      expectFailure(repo.hushmark(args), "error: StreamTooLong\n");
    }
    expectUntouched(repo.excludePath(), before);
    EXPECT_EQ(static_cast<std::uint64_t>(stampOf(repo.excludePath()).size), size);
    EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
  }
  if (made == 0) GTEST_SKIP() << "the file system here makes no file of 2 GiB";
}

TEST(ExcludeFileTest, FailedRewriteKeepsOldContent) {
  // A file already in written form is copied as it is, any other rebuilt
  // line by line; both ways stop at the size limit.
  for (const char* lineEnd : {"\n", "\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(lineEnd));
    GitRepo repo;
    std::string content;
    for (int i = 0; i < 500; ++i) content += "pattern-" + std::to_string(i) + lineEnd;
    writeFile(repo.excludePath(), content);
    // Whether or not the caller ignores SIGXFSZ, the limit is an error to
    // report, not a signal that kills the run halfway.
    for (bool callerIgnoresSignal : {true, false}) {
      RunOptions options;
      options.beforeExec = [callerIgnoresSignal] {
        rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, callerIgnoresSignal ? SIG_IGN : SIG_DFL);
      };
      for (const char* command : {"hide", "unhide"}) {
        SCOPED_TRACE(std::string(command) + (callerIgnoresSignal ? "" : ", SIGXFSZ at default"));
        expectFailure(
            repo.hushmark({command, std::string(command) == "hide" ? "new" : "pattern-7"}, options),
            "error: FileTooBig\n");
        EXPECT_TRUE(readFile(repo.excludePath()) == content);
        EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
      }
    }
  }
}

// New content must stay readable: below 16 MiB, by both routes of hide (a
// file in written form gains the pattern; any other is rebuilt, here one
// whose last line lacks its LF).
TEST(ExcludeFileTest, WriteStaysUnderTheSizeLimit) {
  struct Case {
    std::size_t size;
    const char* lastLine;
    const char* pattern;
    bool fits;
  };
  const Case cases[] = {
      {16777211, "last\n", "new", true},
      {16777211, "last\n", "newer", false},
      {16777212, "last", "x", true},
      {16777213, "last", "x", false},
  };
  GitRepo repo;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + c.pattern);
    const std::string content = fileOfSize(c.size, c.lastLine);
    writeFile(repo.excludePath(), content);
    age(repo.excludePath());
    Stamp before = stampOf(repo.excludePath());
    RunResult result = repo.hushmark({"hide", c.pattern});
    if (c.fits) {
      expectSilentSuccess(result);
      std::string expected = content;
      if (!expected.ends_with("\n")) expected += "\n";
      expected += std::string(c.pattern) + "\n";
      EXPECT_EQ(stampOf(repo.excludePath()).size, 16777215);
      EXPECT_TRUE(readFile(repo.excludePath()) == expected);
    } else {
      expectFailure(result, "error: StreamTooLong\n");
      expectUntouched(repo.excludePath(), before);
    }
    EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
  }
}

// The file is searched piece by piece; lines that straddle the places where
// one piece ends and the next begins must be found all the same, with few
// patterns and with many.
TEST(ExcludeFileTest, LinesAcrossReadPiecesAreFound) {
  for (const char* lineEnd : {"\n", "\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(lineEnd));
    GitRepo repo;
    std::string content;
    std::vector<std::string> lines;
    for (int i = 0; content.size() < 1100000; ++i) {
      std::string& line = lines.emplace_back("l");
      line += std::to_string(100000 + i);
      content += lines.back() + lineEnd;
    }
    writeFile(repo.excludePath(), content);
    age(repo.excludePath());
    Stamp before = stampOf(repo.excludePath());
    const std::size_t lineSize = lines[0].size() + std::string(lineEnd).size();
    std::vector<std::string> all{"hide"};
    for (std::size_t boundary = 1; boundary <= 4; ++boundary) {
      std::size_t middle = boundary * 262144 / lineSize;
      std::vector<std::string> few{"hide"};
      for (std::size_t i = middle - 3; i <= middle + 3; ++i) few.push_back(lines[i]);
      expectSilentSuccess(repo.hushmark(few));
      all.insert(all.end(), few.begin() + 1, few.end());
    }
    all.push_back(lines.back());
    expectSilentSuccess(repo.hushmark(all));
    expectUntouched(repo.excludePath(), before);

    all.push_back("absent");
    expectSilentSuccess(repo.hushmark(all));
    std::string expected;
    for (const std::string& line : lines) expected += line + "\n";
    EXPECT_TRUE(readFile(repo.excludePath()) == expected + "absent\n");

    // unhide takes the same lines out again: first the few around one
    // boundary, then all the others (the last line and "absent" too).
    std::vector<std::string> unhideFew{"unhide"}, unhideRest{"unhide"};
    unhideFew.insert(unhideFew.end(), all.begin() + 1, all.begin() + 8);
    unhideRest.insert(unhideRest.end(), all.begin() + 8, all.end());
    expectSilentSuccess(repo.hushmark(unhideFew));
    expectSilentSuccess(repo.hushmark(unhideRest));
    std::set<std::string> gone(all.begin() + 1, all.end());
    expected.clear();
    for (const std::string& line : lines) {
      if (!gone.contains(line)) expected += line + "\n";
    }
    EXPECT_TRUE(readFile(repo.excludePath()) == expected);
  }
}

// A full file system (a small one mounted where the test may): the old
// content stays, and so does no temporary file.
TEST(ExcludeFileTest, FullFileSystemKeepsOldContent) {
  GitRepo repo;
  fs::remove_all(infoDir(repo));
  fs::create_directory(infoDir(repo));
  if (::mount("hushmark-test", infoDir(repo).c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{infoDir(repo)};
  // Whole pages of content, and the rest of the space taken: a new file
  // finds no room, and neither does a line appended in place.
  std::string content;
  for (int i = 0; content.size() < 16384; ++i) content += "pattern-" + std::to_string(i) + "\n";
  content.resize(16384 - 1);
  content += "\n";
  writeFile(repo.excludePath(), content);
  ASSERT_TRUE(readFile(repo.excludePath()) == content);
  {
    std::ofstream filler(infoDir(repo) + "/filler", std::ios::binary);
    std::string page(4096, 'x');
    while (filler.write(page.data(), page.size())) filler.flush();
  }
  expectFailure(repo.hushmark({"hide", "new"}), "error: NoSpaceLeft\n");
  EXPECT_TRUE(readFile(repo.excludePath()) == content);
  EXPECT_EQ(entriesOf(infoDir(repo)), (std::vector<std::string>{"exclude", "filler"}));
}

TEST(ExcludeFileTest, RewriteKeepsPermissions) {
  GitRepo repo;
  writeFile(repo.excludePath(), "a\n");
  ASSERT_EQ(::chmod(repo.excludePath().c_str(), 0640), 0);
  expectSilentSuccess(repo.hushmark({"hide", "b"}));
  EXPECT_EQ(readFile(repo.excludePath()), "a\nb\n");
  EXPECT_EQ(stampOf(repo.excludePath()).mode & 07777, 0640u);
  ASSERT_EQ(::chmod(repo.excludePath().c_str(), 0604), 0);
  expectSilentSuccess(repo.hushmark({"unhide", "a", "b"}));
  EXPECT_EQ(readFile(repo.excludePath()), "");
  EXPECT_EQ(stampOf(repo.excludePath()).mode & 07777, 0604u);

  // An access list entry for one user stays, and so does the mask that
  // keeps the group out.
  ASSERT_EQ(::chmod(repo.excludePath().c_str(), 0600), 0);
  RunResult set = run({"setfacl", "-m", "u:nobody:r", repo.excludePath()});
  if (set.status != 0) GTEST_SKIP() << "no access lists here: " << set.err;
  std::string acl = run({"getfacl", "-c", repo.excludePath()}).out;
  expectSilentSuccess(repo.hushmark({"hide", "c"}));
  expectSilentSuccess(repo.hushmark({"unhide", "c"}));
  EXPECT_EQ(run({"getfacl", "-c", repo.excludePath()}).out, acl);
}

// The temporary file is open to its owner alone until it has the old
// file's owner and group, and only then gets the old file's mode.
TEST(ExcludeFileTest, TemporaryFileIsTheOwnersAloneUntilItIsProtected) {
  if (!HUSHMARK_HAVE_XATTR)
    GTEST_SKIP() << "without access lists in view, files are written in place";
  GitRepo repo;
  writeFile(repo.excludePath(), "a\n");
  ASSERT_EQ(::chmod(repo.excludePath().c_str(), 0644), 0);
  TempDir logs;
  std::string log = logs / "trace";
  // 32-bit x86 and ARM change a file's owner with fchown32.
  std::vector<std::string> argv{
      "strace",         "-f",     "-qq", "-o", log, "-e", "trace=openat,/^fchown(32)?$,fchmod",
      hushmarkBinary(), "unhide", "a"};
  // LeakSanitizer does not work under ptrace.
  RunResult traced = run(argv, at(repo.path(), {{"ASAN_OPTIONS", "detect_leaks=0"}}));
  if (traced.status != 0 && !fileExists(log)) GTEST_SKIP() << "no strace here: " << traced.err;
  ASSERT_EQ(traced.status, 0) << traced.err;
  std::string calls = readFile(log);
  std::size_t created = calls.find(".hushmark-tmp.");
  ASSERT_NE(created, std::string::npos) << calls;
  std::string createLine = calls.substr(created, calls.find('\n', created) - created);
  EXPECT_NE(createLine.find("O_EXCL"), std::string::npos) << createLine;
  EXPECT_NE(createLine.find(", 0600)"), std::string::npos) << createLine;
  std::size_t owner = calls.find("fchown", created);
  std::size_t mode = calls.find("fchmod(", created);
  EXPECT_LT(owner, mode) << calls;
  EXPECT_NE(calls.find(", 0644)", mode), std::string::npos) << calls;
}

TEST(ExcludeFileTest, SymbolicLinkStaysAndTargetChanges) {
  struct LinkCase {
    const char* name;
    bool absolute;
  };
  for (LinkCase c : {LinkCase{"relative", false}, LinkCase{"absolute", true}}) {
    SCOPED_TRACE(c.name);
    GitRepo repo;
    fs::create_directory(repo / ".git/kept");
    const std::string target = repo / ".git/kept/exclude";
    writeFile(target, "a\n");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const std::string link = c.absolute ? target : "../kept/exclude";
    fs::remove(repo.excludePath());
    fs::create_symlink(link, repo.excludePath());

    expectSilentSuccess(repo.hushmark({"hide", "b"}));
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(repo.excludePath())));
    EXPECT_EQ(fs::read_symlink(repo.excludePath()).string(), link);
    EXPECT_EQ(readFile(target), "a\nb\n");
    EXPECT_EQ(stampOf(target).mode & 07777, 0600u);

    expectSilentSuccess(repo.hushmark({"unhide", "a", "b"}));
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(repo.excludePath())));
    EXPECT_EQ(readFile(target), "");
    EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
    EXPECT_EQ(entriesOf(repo / ".git/kept"), std::vector<std::string>{"exclude"});
  }
}

TEST(ExcludeFileTest, DanglingSymbolicLinkGetsItsTargetCreated) {
  GitRepo repo;
  fs::remove(repo.excludePath());
  fs::create_symlink("../local-exclude", repo.excludePath());
  expectSilentSuccess(repo.hushmark({"unhide", "a"}));
  EXPECT_FALSE(fileExists(repo / ".git/local-exclude"));
  expectSilentSuccess(repo.hushmark({"hide", "a"}));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(repo.excludePath())));
  EXPECT_EQ(readFile(repo / ".git/local-exclude"), "a\n");
}

TEST(ExcludeFileTest, LinkToADeviceIsWrittenToNotReplaced) {
  GitRepo repo;
  std::string device = repo / ".git/null-device";
  if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
    GTEST_SKIP() << "cannot make a device node here";
  }
  fs::remove(repo.excludePath());
  fs::create_symlink(device, repo.excludePath());
  expectSilentSuccess(repo.hushmark({"hide", "a"}));
  EXPECT_TRUE(fs::is_character_file(fs::status(device)));
  EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
}

// A FIFO would block the open (and hold the lock meanwhile), a socket cannot
// be opened: both are refused at once, and nothing changes.
TEST(ExcludeFileTest, FifoAndSocketAreRefused) {
  for (bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "socket");
    GitRepo repo;
    fs::remove(repo.excludePath());
    if (fifo) {
      ASSERT_EQ(::mkfifo(repo.excludePath().c_str(), 0644), 0);
    } else {
      int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      ASSERT_LT(repo.excludePath().size(), sizeof address.sun_path);
      std::strcpy(address.sun_path, repo.excludePath().c_str());
      ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      ::close(sock);
    }
    RunOptions options;
    options.beforeExec = [] { ::alarm(20); };
    for (const char* command : {"hide", "unhide", "list"}) {
      SCOPED_TRACE(command);
      std::vector<std::string> args{command};
      if (std::string(command) != "list") args.push_back("a");
      expectFailure(repo.hushmark(args, options), "error: UnsupportedFileType\n");
    }
    EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
  }
}

// Another process holding the lock for good: hide gives up after five
// seconds with one line that says so, and changes nothing.
TEST(ExcludeFileTest, HeldLockEndsTheWaitAfterFiveSeconds) {
  GitRepo repo;
  writeFile(repo.excludePath(), "a\n");
  age(repo.excludePath());
  Stamp before = stampOf(repo.excludePath());
  int directory = ::open(infoDir(repo).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  ASSERT_EQ(::flock(directory, LOCK_EX), 0);
  RunOptions options;
  options.beforeExec = [] { ::alarm(30); };
  auto started = std::chrono::steady_clock::now();
  RunResult result = repo.hushmark({"hide", "b"}, options);
  auto waited = std::chrono::steady_clock::now() - started;
  ::close(directory);
  expectFailure(result, "error: ExcludeFileLocked\n");
  EXPECT_GE(waited, std::chrono::seconds(5));
  EXPECT_LT(waited, std::chrono::seconds(8));
  expectUntouched(repo.excludePath(), before);
}

// Every command within a 32 KiB stack, by every route that writes.
TEST(ExcludeFileTest, CommandsRunWithinASmallStack) {
  GitRepo repo;
  repo.commitFiles({"tracked"});
  // The system counts the environment against the stack limit: only what
  // the runs need.
  RunOptions options;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string name(*entry, std::strcspn(*entry, "="));
    if (name != "PATH" && !baseEnvironment().contains(name)) options.env[name] = std::nullopt;
  }
  options.beforeExec = [] {
    rlimit limit{32 * 1024, 32 * 1024};
    ::setrlimit(RLIMIT_STACK, &limit);
  };
  writeFile(repo.excludePath(), "a\n");
  const std::vector<std::vector<std::string>> runs = {{"hide", "b"},
                                                      {"hide", "b"},
                                                      {"unhide", "a"},
                                                      {"freeze", "tracked"},
                                                      {"unfreeze", "tracked"}};
  for (const auto& args : runs) {
    SCOPED_TRACE(args[0]);
    expectSilentSuccess(repo.hushmark(args, options));
  }
  writeFile(repo.excludePath(), "c\r\n");
  expectSilentSuccess(repo.hushmark({"hide", "d"}, options));
  EXPECT_EQ(readFile(repo.excludePath()), "c\nd\n");
  RunResult listed = repo.hushmark({"list"}, options);
  EXPECT_EQ(listed.out, "hide\tc\nhide\td\n");
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(repo.hushmark({"--help"}, options).status, 0);
  EXPECT_EQ(repo.hushmark({"hide"}, options).status, 2);
}

// Signals at random moments while a large file is rewritten: the run ends
// by the signal (or finishes first), the file holds the old or the new
// content, and no temporary file stays behind.
TEST(ExcludeInterruptTest, AnySignalLeavesOldOrNewContent) {
  GitRepo repo;
  std::string content, rewritten;
  for (int i = 0; content.size() < 2000000; ++i) {
    std::string line = "pattern-" + std::to_string(i);
    content += line + "\r\n";
    rewritten += line + "\n";
  }
  rewritten += "new\n";
  RunOptions options = at(repo.path());
  options.beforeExec = [] {
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
  };
  const std::vector<std::string> argv{hushmarkBinary(), "hide", "new"};
  // How long a whole run takes, so that the signals fall across all of it.
  writeFile(repo.excludePath(), content);
  auto started = std::chrono::steady_clock::now();
  expectSilentSuccess(run(argv, options));
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::steady_clock::now() - started)
                  .count();
  const int signals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTRAP,   SIGUSR1, SIGUSR2,
                         SIGALRM, SIGTERM, SIGXCPU,   SIGVTALRM, SIGPROF, SIGSYS,
                         SIGIO,   SIGPWR,  SIGSTKFLT, SIGRTMIN,  SIGRTMAX};
  std::minstd_rand random(12345);
  int interrupted = 0, trials = 0, rewrites = 0;
  for (int round = 0; round < 3; ++round) {
    for (int signal : signals) {
      SCOPED_TRACE("signal " + std::to_string(signal) + ", round " + std::to_string(round));
      writeFile(repo.excludePath(), content);
      const Stamp directoryBefore = stampOf(infoDir(repo));
      StartedRun running = start(argv, options);
      if (trials % 2 == 0) {
        ::usleep(static_cast<useconds_t>(random() % (span + 1)));
      } else {
        // Every other signal is sent as soon as the new content is being
        // written: a new entry changes the directory's modification time.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        auto unchanged = [&] {
          timespec now = stampOf(infoDir(repo)).mtime;
          return now.tv_sec == directoryBefore.mtime.tv_sec &&
                 now.tv_nsec == directoryBefore.mtime.tv_nsec;
        };
        while (unchanged() && std::chrono::steady_clock::now() < deadline) {
        }
      }
      ::kill(running.pid, signal);
      RunResult result = finish(running);
      ++trials;
      if (result.signal != 0) {
        EXPECT_EQ(result.signal, signal);
        ++interrupted;
      } else {
        EXPECT_EQ(result.status, 0) << result.err;
      }
      std::string after = readFile(repo.excludePath());
      EXPECT_TRUE(after == content || after == rewritten);
      rewrites += after == rewritten;
      EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
    }
  }
  std::cout << "[ " << interrupted << " of " << trials << " runs ended by the signal, " << rewrites
            << " with the new content ]\n";
}

// ---------------------------------------------------------------------------
// Where a new file renamed into place would not be the same file to
// everyone, the file is written in place, and stays whole on failure.

TEST(ExcludeInPlaceTest, HardLinkedFileKeepsItsLinks) {
  GitRepo repo;
  const std::string other = repo / ".git/other-name";
  writeFile(repo.excludePath(), "a\n");
  fs::create_hard_link(repo.excludePath(), other);
  Stamp before = stampOf(repo.excludePath());
  expectSilentSuccess(repo.hushmark({"hide", "b"}));
  EXPECT_EQ(readFile(other), "a\nb\n");
  expectSilentSuccess(repo.hushmark({"unhide", "a"}));
  EXPECT_EQ(readFile(other), "b\n");
  EXPECT_EQ(stampOf(repo.excludePath()).inode, before.inode);
  EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});

  // A write cut short by the file size limit leaves the old bytes: the
  // append (written form; cut off two bytes in) and the rewrite from the
  // start (CR LF line ends; cut off in the middle) alike.
  for (const char* lineEnd : {"\n", "\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(lineEnd));
    std::string content;
    for (int i = 0; i < 200; ++i) content += "pattern-" + std::to_string(i) + lineEnd;
    writeFile(repo.excludePath(), content);
    rlim_t cap = std::string(lineEnd) == "\n" ? content.size() + 2 : content.size() / 2;
    RunOptions options;
    options.beforeExec = [cap] {
      rlimit limit{cap, cap};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    expectFailure(repo.hushmark({"hide", "new"}, options), "error: FileTooBig\n");
    EXPECT_TRUE(readFile(other) == content);
  }
}

// Runs `hide b` with `source` bind-mounted on `target`, in a mount
// namespace of the run's own; skips where none can be made.
RunResult hideUnderBindMount(GitRepo& repo, const std::string& source, const std::string& target) {
  RunOptions options;
  options.beforeExec = [source, target] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      _exit(125);
    }
  };
  return repo.hushmark({"hide", "b"}, options);
}

// The rename is refused: the file is a bind mount.
TEST(ExcludeInPlaceTest, BindMountedFile) {
  GitRepo repo;
  const std::string mounted = repo / ".git/mounted";
  writeFile(mounted, "a\n");
  RunResult result = hideUnderBindMount(repo, mounted, repo.excludePath());
  if (result.status == 125) GTEST_SKIP() << "no mount namespace can be made here";
  expectSilentSuccess(result);
  EXPECT_EQ(readFile(mounted), "a\nb\n");
}

// The exclude file is mounted on another name: a new file in its place
// would leave that name with the old one.
TEST(ExcludeInPlaceTest, FileMountedElsewhere) {
  GitRepo repo;
  const std::string elsewhere = repo / ".git/elsewhere";
  writeFile(repo.excludePath(), "a\n");
  writeFile(elsewhere, "");
  const Stamp before = stampOf(repo.excludePath());
  RunResult result = hideUnderBindMount(repo, repo.excludePath(), elsewhere);
  if (result.status == 125) GTEST_SKIP() << "no mount namespace can be made here";
  expectSilentSuccess(result);
  EXPECT_EQ(readFile(repo.excludePath()), "a\nb\n");
  EXPECT_EQ(stampOf(repo.excludePath()).inode, before.inode);
}

// Flags that a new file would not have: inode flags of the file itself
// stay, and a directory that keeps every name gets no temporary file.
TEST(ExcludeInPlaceTest, InodeFlagsAreKept) {
  GitRepo repo;
  writeFile(repo.excludePath(), "a\n");
  if (run({"chattr", "+dA", repo.excludePath()}).status != 0) {
    GTEST_SKIP() << "no inode flags here";
  }
  expectSilentSuccess(repo.hushmark({"hide", "b"}));
  EXPECT_EQ(readFile(repo.excludePath()), "a\nb\n");
  std::string flags = run({"lsattr", "-d", repo.excludePath()}).out;
  flags = flags.substr(0, flags.find(' '));
  EXPECT_NE(flags.find('d'), std::string::npos) << flags;
  EXPECT_NE(flags.find('A'), std::string::npos) << flags;

  ASSERT_EQ(run({"chattr", "-dA", repo.excludePath()}).status, 0);
  if (run({"chattr", "+a", infoDir(repo)}).status != 0) GTEST_SKIP() << "no append-only here";
  RunResult result = repo.hushmark({"unhide", "a"});
  (void)run({"chattr", "-a", infoDir(repo)});
  expectSilentSuccess(result);
  EXPECT_EQ(readFile(repo.excludePath()), "b\n");
  EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
}

// The temporary name would be too long where the file's own is not.
TEST(ExcludeInPlaceTest, LongFileName) {
  GitRepo repo;
  const std::string longName = repo / ".git/" + std::string(250, 'x');
  writeFile(longName, "a\n");
  fs::remove(repo.excludePath());
  fs::create_symlink(longName, repo.excludePath());
  expectSilentSuccess(repo.hushmark({"hide", "b"}));
  expectSilentSuccess(repo.hushmark({"unhide", "a"}));
  EXPECT_EQ(readFile(longName), "b\n");
}

// Runs hushmark as a user other than root, made for the purpose, so that
// file permissions apply. Skips where no such user can be made.
class AsOtherUser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "making a user needs root";
    const char* name = "hushmark-test";
    if (::getpwnam(name) == nullptr) {
      const char* useradd = fileExists("/usr/sbin/useradd") ? "/usr/sbin/useradd" : "useradd";
      RunResult made = run({useradd, "--system", "--no-create-home", name});
      if (::getpwnam(name) == nullptr) GTEST_SKIP() << "useradd failed: " << made.err;
    }
    const passwd* user = ::getpwnam(name);
    uid_ = user->pw_uid;
    gid_ = user->pw_gid;
    // Everything the user reaches: the program, a stand-in git, the repository.
    ::chmod(dir_.path().c_str(), 0755);
    fs::copy_file(hushmarkBinary(), dir_ / "hushmark");
    fs::create_directories(dir_ / "repo/.git/info");
    writeScript(dir_ / "git", "#!/bin/sh\necho '" + exclude() + "'\n");
  }

  std::string exclude() const { return dir_ / "repo/.git/info/exclude"; }
  std::string info() const { return dir_ / "repo/.git/info"; }

  RunResult hushmark(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{dir_ / "hushmark"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options = at(dir_ / "repo", {{"PATH", dir_.path() + ":/usr/bin:/bin"}});
    options.beforeExec = [uid = uid_, gid = gid_] {
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) _exit(125);
    };
    return run(argv, options);
  }

  TempDir dir_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

// A root-owned file that the user's group may write: it stays root's, with
// its group and mode, whether the directory takes new files or not.
TEST_F(AsOtherUser, OwnerAndReadOnlyDirectoryAreKept) {
  for (mode_t dirMode : {0775, 0555}) {
    SCOPED_TRACE(dirMode);
    writeFile(exclude(), "a\n");
    ASSERT_EQ(::chown(exclude().c_str(), 0, gid_), 0);
    ASSERT_EQ(::chmod(exclude().c_str(), 0664), 0);
    ASSERT_EQ(::chown(info().c_str(), 0, gid_), 0);
    ASSERT_EQ(::chmod(info().c_str(), dirMode), 0);

    expectSilentSuccess(hushmark({"hide", "b"}));
    expectSilentSuccess(hushmark({"unhide", "a"}));
    EXPECT_EQ(readFile(exclude()), "b\n");
    struct stat info {};
    ASSERT_EQ(::stat(exclude().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_gid, gid_);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
    EXPECT_EQ(entriesOf(this->info()), std::vector<std::string>{"exclude"});
  }
}

// ---------------------------------------------------------------------------
// Runs at the same moment in one repository.

// Starts hushmark runs together and waits for all of them.
class Crowd {
 public:
  Crowd() {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      std::string text(*entry);
      std::size_t equals = text.find('=');
      if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : baseEnvironment()) {
      if (value) {
        merged[name] = *value;
      } else {
        merged.erase(name);
      }
    }
    for (const auto& [name, value] : merged) env_.push_back(name + "=" + value);
  }

  // Runs every argument list in `cwd` at once; each run's standard output
  // and standard error go to one file in `logs`. Returns the exit statuses.
  std::vector<int> runAll(const std::vector<std::vector<std::string>>& runs, const std::string& cwd,
                          const std::string& logs) {
    return runAll(runs, std::vector<std::string>(runs.size(), cwd), logs);
  }

  // The same with a directory for each run; the runs' output goes to
  // `outputs` when given, and must be empty otherwise.
  std::vector<int> runAll(const std::vector<std::vector<std::string>>& runs,
                          const std::vector<std::string>& cwds, const std::string& logs,
                          std::vector<std::string>* outputs = nullptr) {
    std::vector<std::vector<std::string>> argvs;
    for (const auto& args : runs) {
      argvs.push_back({hushmarkBinary()});
      argvs.back().insert(argvs.back().end(), args.begin(), args.end());
    }
    std::vector<std::vector<char*>> argps;
    for (auto& argv : argvs) argps.push_back(pointers(argv));
    std::vector<char*> envp = pointers(env_);
    std::vector<std::string> logNames;
    for (std::size_t i = 0; i < runs.size(); ++i)
      logNames.push_back(logs + "/" + std::to_string(i));

    // Every child waits at the gate until all have been started.
    int gate[2];
    if (::pipe(gate) != 0) throw std::runtime_error("pipe failed");
    std::vector<pid_t> children;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      pid_t pid = ::fork();
      if (pid < 0) throw std::runtime_error("fork failed");
      if (pid == 0) {
        ::close(gate[1]);
        char byte;
        while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
        }
        int log = ::open(logNames[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_RDONLY);
        if (log < 0 || null < 0 || ::chdir(cwds[i].c_str()) != 0) _exit(127);
        ::dup2(null, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execve(argps[i][0], argps[i].data(), envp.data());
        _exit(127);
      }
      children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    std::vector<int> statuses;
    for (pid_t pid : children) {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    for (const std::string& name : logNames) {
      if (outputs != nullptr) {
        outputs->push_back(readFile(name));
      } else {
        EXPECT_EQ(readFile(name), "") << name;
      }
      fs::remove(name);
    }
    return statuses;
  }

 private:
  static std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
  }

  std::vector<std::string> env_;
};

std::vector<std::string> linesOf(const std::string& content) {
  std::vector<std::string> lines;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

constexpr int trials = 10;
constexpr int runsPerTrial = 16;

TEST(ExcludeConcurrencyTest, SimultaneousHidesLoseNothing) {
  Crowd crowd;
  TempDir logs;
  for (int trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    GitRepo repo;
    // Every other trial starts without the info directory, so that the runs
    // also race to create it.
    if (trial % 2 == 0) {
      fs::remove_all(infoDir(repo));
    } else {
      writeFile(repo.excludePath(), "first\n");
    }
    std::vector<std::vector<std::string>> runs;
    std::vector<std::string> expected;
    for (int i = 0; i < runsPerTrial; ++i) {
      std::string pattern = "pattern-" + std::to_string(i);
      runs.push_back({"hide", pattern});
      expected.push_back(pattern);
    }
    std::vector<int> statuses = crowd.runAll(runs, repo.path(), logs.path());
    EXPECT_EQ(statuses, std::vector<int>(runsPerTrial, 0));

    std::vector<std::string> lines = linesOf(readFile(repo.excludePath()));
    if (trial % 2 == 1) {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), "first");
      lines.erase(lines.begin());
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(readFile(repo.excludePath()).ends_with("\n"));
    EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
  }
}

TEST(ExcludeConcurrencyTest, SimultaneousHidesAndUnhidesLoseNothing) {
  Crowd crowd;
  TempDir logs;
  for (int trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    GitRepo repo;
    std::string prefill = "keep-1\n";
    std::vector<std::vector<std::string>> runs;
    std::vector<std::string> added;
    for (int i = 0; i < runsPerTrial / 2; ++i) {
      std::string gone = "gone-" + std::to_string(i);
      std::string added_pattern = "added-" + std::to_string(i);
      prefill += gone + "\n";
      runs.push_back({"unhide", gone});
      runs.push_back({"hide", added_pattern});
      added.push_back(added_pattern);
    }
    prefill += "keep-2\n";
    writeFile(repo.excludePath(), prefill);

    std::vector<int> statuses = crowd.runAll(runs, repo.path(), logs.path());
    EXPECT_EQ(statuses, std::vector<int>(runsPerTrial, 0));

    std::vector<std::string> lines = linesOf(readFile(repo.excludePath()));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "keep-1");
    EXPECT_EQ(lines[1], "keep-2");
    std::vector<std::string> rest(lines.begin() + 2, lines.end());
    std::sort(rest.begin(), rest.end());
    std::sort(added.begin(), added.end());
    EXPECT_EQ(rest, added);
    EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
  }
}

// 64 runs at once, hide, unhide and list mixed: none waits too long for the
// lock, no update is lost, and every list shows one whole state of the file.
TEST(ExcludeConcurrencyTest, SixtyFourMixedRuns) {
  Crowd crowd;
  TempDir logs;
  GitRepo repo;
  std::string prefill = "keep-1\n";
  std::vector<std::vector<std::string>> runs;
  std::set<std::string> known{"keep-1", "keep-2"}, added;
  for (int i = 0; i < 16; ++i) {
    std::string gone = "gone-" + std::to_string(i);
    prefill += gone + "\n";
    known.insert(gone);
    runs.push_back({"unhide", gone});
    runs.push_back({"list"});
    for (int j = 0; j < 2; ++j) {
      std::string pattern = "added-" + std::to_string(2 * i + j);
      runs.push_back({"hide", pattern});
      known.insert(pattern);
      added.insert(pattern);
    }
  }
  prefill += "keep-2\n";
  writeFile(repo.excludePath(), prefill);
  std::vector<std::string> outputs;
  std::vector<int> statuses =
      crowd.runAll(runs, std::vector<std::string>(runs.size(), repo.path()), logs.path(), &outputs);
  EXPECT_EQ(statuses, std::vector<int>(runs.size(), 0));
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i][0] != "list") {
      EXPECT_EQ(outputs[i], "") << i;
      continue;
    }
    std::vector<std::string> lines = linesOf(outputs[i]);
    ASSERT_GE(lines.size(), 2u) << outputs[i];
    EXPECT_EQ(lines[0], "hide\tkeep-1");
    std::set<std::string> seen;
    for (const std::string& line : lines) {
      ASSERT_TRUE(line.starts_with("hide\t")) << line;
      EXPECT_TRUE(known.contains(line.substr(5))) << line;
      EXPECT_TRUE(seen.insert(line).second) << "twice: " << line;
    }
    EXPECT_TRUE(seen.contains("hide\tkeep-2")) << outputs[i];
  }
  std::vector<std::string> lines = linesOf(readFile(repo.excludePath()));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "keep-1");
  EXPECT_EQ(lines[1], "keep-2");
  EXPECT_EQ(std::set<std::string>(lines.begin() + 2, lines.end()), added);
  EXPECT_EQ(lines.size(), 2 + added.size());
  EXPECT_EQ(entriesOf(infoDir(repo)), std::vector<std::string>{"exclude"});
}

// Two repositories whose exclude files are one shared file, through a
// symbolic link or a hard link in each: runs in both at once lose nothing,
// as they lock the file itself as well as its directory.
TEST(ExcludeConcurrencyTest, RepositoriesSharingOneFileLoseNothing) {
  for (bool hardLink : {false, true}) {
    SCOPED_TRACE(hardLink ? "hard link" : "symbolic link");
    Crowd crowd;
    TempDir logs, shared;
    GitRepo first("first"), second("second");
    // A long file keeps each rewrite busy for a while, so that runs overlap.
    std::string prefill;
    std::vector<std::string> expected;
    for (int i = 0; prefill.size() < 2000000; ++i) {
      expected.push_back("old-" + std::to_string(i));
      prefill += expected.back() + "\n";
    }
    writeFile(shared / "exclude", prefill);
    for (const GitRepo* repo : {&first, &second}) {
      fs::remove(repo->excludePath());
      if (hardLink) {
        fs::create_hard_link(shared / "exclude", repo->excludePath());
      } else {
        fs::create_symlink(shared / "exclude", repo->excludePath());
      }
    }
    std::vector<std::vector<std::string>> runs;
    std::vector<std::string> cwds;
    // Every third run takes an old line out, which rewrites the whole file.
    for (int i = 0; i < 2 * runsPerTrial; ++i) {
      if (i % 3 == 2) {
        runs.push_back({"unhide", "old-" + std::to_string(i)});
        std::erase(expected, runs.back()[1]);
      } else {
        expected.push_back("pattern-" + std::to_string(i));
        runs.push_back({"hide", expected.back()});
      }
      cwds.push_back((i % 2 == 0 ? first : second).path());
    }
    EXPECT_EQ(crowd.runAll(runs, cwds, logs.path()), std::vector<int>(runs.size(), 0));
    std::vector<std::string> lines = linesOf(readFile(shared / "exclude"));
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
  }
}

TEST(ExcludeConcurrencyTest, SimultaneousUnhidesOfMissingFileCreateNothing) {
  Crowd crowd;
  TempDir logs;
  GitRepo repo;
  fs::remove_all(infoDir(repo));
  std::vector<std::vector<std::string>> runs(runsPerTrial, {"unhide", "a"});
  EXPECT_EQ(crowd.runAll(runs, repo.path(), logs.path()), std::vector<int>(runsPerTrial, 0));
  EXPECT_FALSE(fileExists(infoDir(repo)));
}

}  // namespace
}  // namespace hushmark::test
