// list against real Git repositories, and against a stand-in git where a
// failure of Git itself is needed.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
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
  writeFile(repo.excludePath(), "a\r\n\r\n  # note\n\tb \n# x");
  expectListed(repo.hushmark({"list"}), "hide\ta\nhide\t\tb \n");
  writeFile(repo.excludePath(), " \t \n\\#x\nd\nd\n");
  expectListed(repo.hushmark({"list"}), "hide\t\\#x\nhide\td\nhide\td\n");
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
  fs::create_directory(fake.bin / "sub dir");
  writeFile(fake.bin / "sub dir/ex clude", "p\n");
  // Blanks and line ends around the path go, inner ones stay; what Git
  // writes to standard error on success is not shown.
  installFakeGit(fake,
                 "case \"$1\" in\n"
                 "rev-parse) printf ' \\t sub dir/ex clude \\r\\n'; echo warning >&2 ;;\n"
                 "ls-files) printf 'H a\\0S b c\\0s d\\0S e\\0'; echo warning >&2 ;;\n"
                 "esac\n");
  expectListed(hushmark({"list"}, fake.options(fake.bin.path())),
               "hide\tp\nfreeze\tb c\nfreeze\te\n");
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

}  // namespace
}  // namespace hushmark::test
