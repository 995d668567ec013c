// list against real Git repositories, and against a stand-in git where a
// failure of Git itself is needed.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
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

void expectListed(const RunResult& result, const std::string& out) {
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

// A directory holding only a stand-in `git` script, for PATH.
struct FakeGit {
  TempDir bin;
  std::string log() const { return readFile(bin / "calls"); }
  RunOptions options(const std::string& cwd) const {
    return at(cwd, {{"PATH", bin.path() + ":/usr/bin:/bin"}});
  }
};

// Records every call's arguments in "calls" beside itself, then runs `body`.
void installFakeGit(const FakeGit& fake, const std::string& body) {
  writeScript(fake.bin / "git",
              "#!/bin/sh\necho \"$*\" >> '" + fake.bin.path() + "/calls'\n" + body);
}

TEST(ListTest, NothingHiddenNothingFrozenPrintsNothing) {
  GitRepo repo;
  repo.commitFiles({"a"});
  // Git's own sample exclude file holds only comments.
  expectListed(repo.hushmark({"list"}), "");
  fs::remove_all(repo / ".git/info");
  expectListed(repo.hushmark({"list"}), "");
  EXPECT_FALSE(fs::exists(repo / ".git/info"));
  writeFile(repo / "empty", "");
  expectListed(repo.hushmark({"list"}), "");
}

TEST(ListTest, ListsOnlyPatternLinesAsTheyStand) {
  GitRepo repo;
  // Only a # first is a comment, only spaces are trimmed from a line's end,
  // one CR ends a line, and a byte order mark belongs to no line.
  writeFile(repo.excludePath(), "\xEF\xBB\xBF#c\na\r\n \r\n  # note\n\tb \n\t\nc\r\r\n# x");
  expectListed(repo.hushmark({"list"}),
               "hide\ta\nhide\t  # note\nhide\t\tb \nhide\t\t\nhide\tc\r\n");
  EXPECT_EQ(repo.git({"check-ignore", "--no-index", "--", "  # note"}), "  # note\n");
  // Git reads a line only up to its first NUL.
  writeFile(repo.excludePath(), std::string(" \t \n\\#x\nd\nd\0e\n\0f\n", 17));
  expectListed(repo.hushmark({"list"}), "hide\t \t \nhide\t\\#x\nhide\td\nhide\td\n");
}

TEST(ListTest, FrozenPathsFollowHiddenPatterns) {
  GitRepo repo;
  repo.commitFiles({"plain", "with space.txt", "dir/inner", "dir/other", "\xc3\xa9t\xc3\xa9"});
  repo.git({"update-index", "--skip-worktree", "--", "with space.txt", "dir/inner",
            "\xc3\xa9t\xc3\xa9"});
  writeFile(repo.excludePath(), "z-last\n*.log\n");
  expectListed(repo.hushmark({"list"}),
               "hide\tz-last\nhide\t*.log\n"
               "freeze\tdir/inner\nfreeze\twith space.txt\nfreeze\t\xc3\xa9t\xc3\xa9\n");
  // Git lists the paths of the directory the command runs in, relative to it.
  expectListed(repo.hushmark({"list"}, at("dir")), "hide\tz-last\nhide\t*.log\nfreeze\tinner\n");
}

TEST(ListTest, FrozenAndAssumeUnchangedIsStillFrozen) {
  GitRepo repo;
  repo.commitFiles({"a", "b", "c"});
  repo.git({"update-index", "--skip-worktree", "--", "a", "b"});
  repo.git({"update-index", "--assume-unchanged", "--", "b", "c"});
  expectListed(repo.hushmark({"list"}), "freeze\ta\nfreeze\tb\n");
}

// A frozen path with a line feed, or one that begins with a double quote,
// is written quoted the way Git quotes it with core.quotePath off; any other
// stays raw, control bytes and quotes inside included.
TEST(ListTest, FrozenPathsStayOneLineEach) {
  const std::vector<std::string> names = {"x\nfreeze\tREADME.md", "\"q\"",
                                          "\n\a\b\t\v\f\r\x01\x1f\x7f\\\"\xc3\xa9 ", "in\"side",
                                          "tab\there\x01\\"};
  GitRepo repo;
  repo.commitFiles(names);
  std::vector<std::string> freeze = {"update-index", "--skip-worktree", "--"};
  freeze.insert(freeze.end(), names.begin(), names.end());
  repo.git(freeze);

  // Git's own listing, raw and quoted, in the same order.
  std::string raw = repo.git({"ls-files", "-z"});
  std::istringstream quoted(repo.git({"-c", "core.quotePath=false", "ls-files"}));
  std::string expected;
  for (std::size_t start = 0; start < raw.size();) {
    std::size_t end = raw.find('\0', start);
    std::string path = raw.substr(start, end - start);
    std::string quotedPath;
    std::getline(quoted, quotedPath);
    bool quote = path.starts_with('"') || path.find('\n') != std::string::npos;
    expected += "freeze\t" + (quote ? quotedPath : path) + "\n";
    start = end + 1;
  }
  expectListed(repo.hushmark({"list"}), expected);
}

TEST(ListTest, SeesWhatHideAndFreezeDid) {
  GitRepo repo;
  repo.commitFiles({"config.local"});
  fs::remove_all(repo / ".git/info");
  ASSERT_EQ(repo.hushmark({"hide", "build/", "*.tmp"}).status, 0);
  ASSERT_EQ(repo.hushmark({"freeze", "config.local"}).status, 0);
  expectListed(repo.hushmark({"list"}), "hide\tbuild/\nhide\t*.tmp\nfreeze\tconfig.local\n");
  ASSERT_EQ(repo.hushmark({"unhide", "build/"}).status, 0);
  ASSERT_EQ(repo.hushmark({"unfreeze", "config.local"}).status, 0);
  expectListed(repo.hushmark({"list"}), "hide\t*.tmp\n");
}

TEST(ListTest, LinkedWorktreeListsTheSharedFile) {
  GitRepo repo("main repo");
  repo.commitFiles({"tracked"});
  repo.git({"worktree", "add", "-q", "--detach", "../linked wt"});
  writeFile(repo.excludePath(), "shared\n");
  expectListed(repo.hushmark({"list"}, at("../linked wt")), "hide\tshared\n");
}

TEST(ListTest, RepositoryPathWithBlanks) {
  GitRepo repo(" my repo ");
  repo.commitFiles({"f"});
  writeFile(repo.excludePath(), "p\n");
  expectListed(repo.hushmark({"list"}, at("", {{"GIT_DIR", repo / ".git"}})), "hide\tp\n");
}

TEST(ListTest, OutsideRepositoryPrintsNothing) {
  TempDir dir;
  RunOptions options = at(dir.path(), {{"GIT_CEILING_DIRECTORIES", dir.path()}});
  RunResult git = run({"git", "rev-parse", "--git-path", "info/exclude"}, options);
  ASSERT_NE(git.status, 0);
  std::string complaint = git.err.substr(0, git.err.find_last_not_of(" \t\r\n") + 1);
  expectFailure(hushmark({"list"}, options), "hushmark: " + complaint + "\n");
}

TEST(ListTest, FileSizeLimit) {
  GitRepo repo;
  std::string content = "#";
  content.append(16777215 - 1 - 6, 'x');
  content += "\nlast\n";
  ASSERT_EQ(content.size(), 16777215u);
  writeFile(repo.excludePath(), content);
  expectListed(repo.hushmark({"list"}), "hide\tlast\n");

  writeFile(repo.excludePath(), "#" + content);
  expectFailure(repo.hushmark({"list"}), "error: StreamTooLong\n");
}

// An index whose listing is larger than what git's output may hold when it
// is collected: list keeps only the frozen entries. The paths are long, so
// that frozen entries straddle the pipe's reads.
TEST(ListTest, ListingLargerThanTheCapIsFilteredAsItArrives) {
  GitRepo repo;
  writeFile(repo / "blob", "");
  std::string blob = repo.git({"hash-object", "-w", "blob"}).substr(0, 40);
  std::string directory;
  for (int i = 0; i < 17; ++i) directory += std::string(200, 'd') + "/";
  std::string entries, frozen, expected;
  std::size_t listing = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string path = directory + "f" + std::to_string(10000 + i);
    entries += "100644 " + blob + "\t" + path + "\n";
    listing += path.size() + 3;
    if (i % 10 == 7) {
      frozen += path + "\n";
      expected += "freeze\t" + path + "\n";
    }
  }
  ASSERT_GT(listing, std::size_t{16} << 20);
  RunOptions options = at(repo.path());
  options.input = entries;
  ASSERT_EQ(run({"git", "update-index", "--index-info"}, options).status, 0);
  options.input = frozen;
  ASSERT_EQ(run({"git", "update-index", "--skip-worktree", "--stdin"}, options).status, 0);
  writeFile(repo.excludePath(), "p\n");
  expectListed(repo.hushmark({"list"}), "hide\tp\n" + expected);
}

TEST(ListTest, ExcludePathNamingDirectoryIsIsDir) {
  GitRepo repo;
  fs::remove(repo.excludePath());
  fs::create_directory(repo.excludePath());
  expectFailure(repo.hushmark({"list"}), "error: IsDir\n");
}

TEST(ListTest, HelpRunsNoGit) {
  TempDir emptyBin;
  const std::string usage = "Usage: hushmark list\nList hidden patterns and frozen paths.\n";
  for (const char* option : {"--help", "-h"}) {
    SCOPED_TRACE(option);
    RunResult result = hushmark({"list", option}, at(emptyBin.path(), {{"PATH", emptyBin.path()}}));
    EXPECT_EQ(result.out, usage);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(ListTest, ExtraArgumentReadsNothing) {
  FakeGit fake;
  installFakeGit(fake, "exit 1\n");
  RunResult result = hushmark({"list", "extra"}, fake.options(fake.bin.path()));
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err, "");
  EXPECT_EQ(result.status, 2);
  EXPECT_FALSE(fileExists(fake.bin / "calls"));
}

// Git's answers are taken from a stand-in here, to see what list does with
// answers and failures that real Git gives only rarely.
TEST(ListWithStandInGitTest, FailedLsFilesPrintsNoPatterns) {
  FakeGit fake;
  writeFile(fake.bin / "exclude", "a\nb\n");
  installFakeGit(fake,
                 "case \"$1\" in\n"
                 "rev-parse) echo exclude ;;\n"
                 "ls-files) echo 'fatal: index file corrupt ' >&2; exit 128 ;;\n"
                 "esac\n");
  expectFailure(hushmark({"list"}, fake.options(fake.bin.path())),
                "hushmark: fatal: index file corrupt\n");
  EXPECT_EQ(fake.log(), "rev-parse --git-path info/exclude\nls-files -v -z\n");
}

// git writes its listing in bursts with pauses between, so that list reads
// it in several pieces, cut inside a tag, inside a path and inside an entry
// that is not listed; then it fails, or succeeds.
TEST(ListWithStandInGitTest, EntriesSplitAcrossReads) {
  for (const char* end : {"exit 128", "exit 0"}) {
    SCOPED_TRACE(end);
    FakeGit fake;
    writeFile(fake.bin / "exclude", "p\n");
    installFakeGit(
        fake, std::string("case \"$1\" in\n"
                          "rev-parse) echo exclude ;;\n"
                          "ls-files) printf 'S'; sleep 0.2; printf ' a\\0S b'; sleep 0.2;\n"
                          "  printf 'c\\0H x'; sleep 0.2; printf 'y\\0S d\\0'; echo oops >&2; ") +
                  end + " ;;\nesac\n");
    RunResult result = hushmark({"list"}, fake.options(fake.bin.path()));
    if (std::string(end) == "exit 0") {
      expectListed(result, "hide\tp\nfreeze\ta\nfreeze\tbc\nfreeze\td\n");
    } else {
      expectFailure(result, "hushmark: oops\n");
    }
  }
}

TEST(ListWithStandInGitTest, FailedLookupRunsNoLsFiles) {
  FakeGit fake;
  installFakeGit(fake, "echo 'fatal: no' >&2\nexit 128\n");
  expectFailure(hushmark({"list"}, fake.options(fake.bin.path())), "hushmark: fatal: no\n");
  EXPECT_EQ(fake.log(), "rev-parse --git-path info/exclude\n");
}

TEST(ListWithStandInGitTest, FailedReadRunsNoLsFiles) {
  FakeGit fake;
  fs::create_directory(fake.bin / "exclude");
  installFakeGit(fake, "echo exclude\n");
  expectFailure(hushmark({"list"}, fake.options(fake.bin.path())), "error: IsDir\n");
  EXPECT_EQ(fake.log(), "rev-parse --git-path info/exclude\n");
}

TEST(ListWithStandInGitTest, AnswersAreTrimmedAndParsed) {
  FakeGit fake;
  fs::create_directory(fake.bin / " sub dir");
  writeFile(fake.bin / " sub dir/ex clude\t", "p\n");
  // Only the line end after the path goes, blanks at either end stay; what
  // Git writes to standard error on success is not shown.
  installFakeGit(fake,
                 "case \"$1\" in\n"
                 "rev-parse) printf ' sub dir/ex clude\\t\\r\\n'; echo warning >&2 ;;\n"
                 "ls-files) printf 'H a\\0S b c\\0s d\\0S e\\0'; echo warning >&2 ;;\n"
                 "esac\n");
  expectListed(hushmark({"list"}, fake.options(fake.bin.path())),
               "hide\tp\nfreeze\tb c\nfreeze\td\nfreeze\te\n");
}

TEST(ListWithStandInGitTest, ExcludePathOfSeveralLinesIsRefused) {
  for (const char* answer : {"a\\nb\\n", "a\\rb\\n", "a\\0b\\n"}) {
    SCOPED_TRACE(answer);
    FakeGit fake;
    installFakeGit(fake, std::string("printf '") + answer + "'\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"hide", "x"}, {"list"}}) {
      expectFailure(hushmark(args, fake.options(fake.bin.path())),
                    "hushmark: git returned an exclude path that is not a single line\n");
    }
    EXPECT_EQ(fake.log(),
              "rev-parse --git-path info/exclude\n"
              "rev-parse --git-path info/exclude\n");
    EXPECT_FALSE(fileExists(fake.bin / "a"));
  }
}

TEST(ListWithStandInGitTest, MissingRelativeExcludeFile) {
  FakeGit fake;
  installFakeGit(fake,
                 "case \"$1\" in\n"
                 "rev-parse) printf 'missing/exclude\\r\\n' ;;\n"
                 "ls-files) printf 'S x\\0' ;;\n"
                 "esac\n");
  expectListed(hushmark({"list"}, fake.options(fake.bin.path())), "freeze\tx\n");
  EXPECT_FALSE(fileExists(fake.bin / "missing"));
}

TEST(ListWithStandInGitTest, EmptyExcludePathIsRefused) {
  FakeGit fake;
  installFakeGit(fake, "printf ' \\r\\n\\t\\n'\n");
  expectFailure(hushmark({"list"}, fake.options(fake.bin.path())),
                "hushmark: git returned an empty exclude path\n");
  EXPECT_EQ(fake.log(), "rev-parse --git-path info/exclude\n");
}

// A parent may hand down non-blocking streams: a full one is waited for,
// not given up on. A small pipe makes sure it fills.
TEST(ListWithStandInGitTest, NonBlockingStreamsAreWrittenWhole) {
  std::string patterns, listed;
  for (int i = 0; i < 30000; ++i) {
    patterns += "pattern-" + std::to_string(i) + "\n";
    listed += "hide\tpattern-" + std::to_string(i) + "\n";
  }
  struct Case {
    int fd;
    std::string lsFiles;
    std::string out, err;
    int status;
  };
  const Case cases[] = {
      {1, "true", listed, "", 0},
      {2, "head -c 300000 /dev/zero | tr '\\0' e >&2; exit 1", "",
       "hushmark: " + std::string(300000, 'e') + "\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fd);
    FakeGit fake;
    writeFile(fake.bin / "exclude", patterns);
    installFakeGit(fake,
                   "case \"$1\" in\n"
                   "rev-parse) echo exclude ;;\n"
                   "ls-files) " +
                       c.lsFiles +
                       " ;;\n"
                       "esac\n");
    RunOptions options = fake.options(fake.bin.path());
    options.beforeExec = [fd = c.fd] {
      ::fcntl(fd, F_SETPIPE_SZ, 4096);
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    };
    RunResult result = hushmark({"list"}, options);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
  }
}

}  // namespace
}  // namespace hushmark::test
