// freeze and unfreeze against real Git, and the exact words they hand to git.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace hushmark::test {
namespace {

// `git ls-files -v -z` as a map from path to its one-letter tag.
std::map<std::string, char> tags(const GitRepo& repo) {
  std::string listing = repo.git({"ls-files", "-v", "-z"});
  std::map<std::string, char> result;
  for (std::size_t start = 0; start < listing.size();) {
    std::size_t end = listing.find('\0', start);
    if (end == std::string::npos) end = listing.size();
    std::string entry = listing.substr(start, end - start);
    EXPECT_GE(entry.size(), 3u);
    EXPECT_EQ(entry[1], ' ');
    result[entry.substr(2)] = entry[0];
    start = end + 1;
  }
  return result;
}

// What hushmark shows for a failed git run: git's own diagnostic, trimmed,
// behind the prefix.
std::string relayed(const RunResult& gitRun) {
  std::string text = gitRun.err;
  std::size_t first = text.find_first_not_of(" \t\r\n");
  std::size_t last = text.find_last_not_of(" \t\r\n");
  return "hushmark: " + (first == std::string::npos ? "" : text.substr(first, last - first + 1)) +
         "\n";
}

TEST(SkipWorktree, FreezeSetsAndUnfreezeClearsTheMark) {
  GitRepo repo;
  repo.commitFiles({"a.txt", "b.txt"});

  expectSilentSuccess(repo.hushmark({"freeze", "a.txt"}));
  EXPECT_EQ(tags(repo), (std::map<std::string, char>{{"a.txt", 'S'}, {"b.txt", 'H'}}));
  RunResult listed = repo.hushmark({"list"});
  EXPECT_EQ(listed.out, "freeze\ta.txt\n");

  // Freezing again changes nothing and is just as quiet.
  expectSilentSuccess(repo.hushmark({"freeze", "a.txt"}));
  EXPECT_EQ(tags(repo)["a.txt"], 'S');

  expectSilentSuccess(repo.hushmark({"unfreeze", "a.txt"}));
  EXPECT_EQ(tags(repo), (std::map<std::string, char>{{"a.txt", 'H'}, {"b.txt", 'H'}}));
  EXPECT_EQ(repo.hushmark({"list"}).out, "");
}

TEST(SkipWorktree, WorksWhenTheCallerIgnoresChildSignals) {
  // An ignored SIGCHLD survives exec; git's end must still be read.
  GitRepo repo;
  repo.commitFiles({"a.txt"});
  RunOptions options;
  options.beforeExec = [] { ::signal(SIGCHLD, SIG_IGN); };
  expectSilentSuccess(repo.hushmark({"freeze", "a.txt"}, options));
  EXPECT_EQ(tags(repo)["a.txt"], 'S');
  EXPECT_EQ(repo.hushmark({"list"}, options).out, "freeze\ta.txt\n");
}

TEST(SkipWorktree, SeveralPathsInOneRun) {
  GitRepo repo;
  repo.commitFiles({"a.txt", "docs/b.md", "docs/\xc3\xa7.md", "d.txt"});

  expectSilentSuccess(repo.hushmark({"freeze", "a.txt", "docs/b.md", "docs/\xc3\xa7.md", "a.txt"}));
  EXPECT_EQ(tags(repo),
            (std::map<std::string, char>{
                {"a.txt", 'S'}, {"docs/b.md", 'S'}, {"docs/\xc3\xa7.md", 'S'}, {"d.txt", 'H'}}));

  expectSilentSuccess(repo.hushmark({"unfreeze", "docs/\xc3\xa7.md", "a.txt"}));
  EXPECT_EQ(tags(repo),
            (std::map<std::string, char>{
                {"a.txt", 'H'}, {"docs/b.md", 'S'}, {"docs/\xc3\xa7.md", 'H'}, {"d.txt", 'H'}}));
}

TEST(SkipWorktree, RelativePathFromASubdirectory) {
  GitRepo repo;
  repo.commitFiles({"sub/x.txt", "x.txt"});

  RunOptions inSub;
  inSub.cwd = "sub";
  expectSilentSuccess(repo.hushmark({"freeze", "x.txt"}, inSub));
  EXPECT_EQ(tags(repo), (std::map<std::string, char>{{"sub/x.txt", 'S'}, {"x.txt", 'H'}}));

  expectSilentSuccess(repo.hushmark({"unfreeze", "../sub/x.txt"}, inSub));
  EXPECT_EQ(tags(repo)["sub/x.txt"], 'H');
}

// Names that a shell would split, unquote or take for an option reach git as
// they are; a leading "-" follows hushmark's own "--".
TEST(SkipWorktree, AwkwardNamesReachGitUnchanged) {
  const std::vector<std::string> names = {
      "with blank.txt", "two  blanks ", "double\"quote", "single'quote",
      "back\\slash",    "tab\there",    "*star",         "$HOME",
      "caf\xc3\xa9",    "-dash",        "--double-dash",
  };
  GitRepo repo;
  repo.commitFiles(names);
  repo.commitFiles({"plain.txt"});

  std::vector<std::string> args = {"freeze", "--"};
  args.insert(args.end(), names.begin(), names.end());
  expectSilentSuccess(repo.hushmark(args));
  std::map<std::string, char> expected = {{"plain.txt", 'H'}};
  for (const std::string& name : names) expected[name] = 'S';
  EXPECT_EQ(tags(repo), expected);

  args[0] = "unfreeze";
  expectSilentSuccess(repo.hushmark(args));
  for (const std::string& name : names) expected[name] = 'H';
  EXPECT_EQ(tags(repo), expected);
}

// A rejected request ends with git's own diagnostic, trimmed, and status 1.
TEST(SkipWorktree, GitRejectionIsRelayed) {
  GitRepo repo;
  repo.commitFiles({"a.txt"});
  TempDir outside;

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string cwd;
  };
  const std::vector<Case> cases = {
      {"untracked path", {"freeze", "nope.txt"}, repo.path()},
      {"untracked path after a tracked one", {"freeze", "a.txt", "nope.txt"}, repo.path()},
      {"unfreeze of an untracked path", {"unfreeze", "nope.txt"}, repo.path()},
      {"path outside the repository", {"freeze", outside / "x"}, repo.path()},
      {"no repository", {"freeze", "a.txt"}, outside.path()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> gitArgs = {
        "git", "update-index", c.args[0] == "freeze" ? "--skip-worktree" : "--no-skip-worktree",
        "--"};
    gitArgs.insert(gitArgs.end(), c.args.begin() + 1, c.args.end());
    RunOptions options;
    options.cwd = c.cwd;
    RunResult direct = run(gitArgs, options);
    ASSERT_NE(direct.status, 0);
    ASSERT_NE(relayed(direct), "hushmark: \n");

    RunResult result = hushmark(c.args, options);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, relayed(direct));
    EXPECT_EQ(result.status, 1);
  }
}

// A path that git passes over ("Ignoring path ..." on standard error, yet
// status 0) fails the command the way a failed git run does.
TEST(SkipWorktree, IgnoredPathIsNoSuccess) {
  GitRepo repo;
  repo.commitFiles({"a.txt", "dir/b.txt"});
  const std::vector<std::vector<std::string>> cases = {
      {"freeze", "dir/"},
      {"freeze", ""},
      {"unfreeze", ".git/config"},
      {"freeze", "a.txt", "dir/"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[1]);
    std::vector<std::string> gitArgs = {
        "git", "update-index", args[0] == "freeze" ? "--skip-worktree" : "--no-skip-worktree",
        "--"};
    gitArgs.insert(gitArgs.end(), args.begin() + 1, args.end());
    RunResult direct = run(gitArgs, at(repo.path()));
    ASSERT_EQ(direct.status, 0);
    ASSERT_NE(direct.err.find("Ignoring path "), std::string::npos);
    repo.git({"update-index", "--no-skip-worktree", "--", "a.txt"});

    expectFailure(repo.hushmark(args), relayed(direct));
  }
}

// git's diagnostics outgrow their cap while git holds the index's lock: git
// is ended gently enough to remove the lock, so that the repository's next
// git command still works.
TEST(SkipWorktree, CapLeavesNoIndexLock) {
  GitRepo repo;
  repo.commitFiles({"d/f"});
  // Every "d/" makes git write "Ignoring path d/" to standard error.
  std::vector<std::string> args(70001, "d/");
  args[0] = "freeze";
  expectFailure(repo.hushmark(args), "hushmark: StreamTooLong\n");
  EXPECT_FALSE(fileExists(repo / ".git/index.lock"));
}

// More paths than one process may receive: git cannot be started, and the
// error says why. The program is given as many paths as it can itself
// receive; git's run needs some 3600 bytes more, as git lies at the end of
// a long directory path, and so is refused.
TEST(SkipWorktree, TooManyPathsForOneGitRun) {
  TempDir dir;
  std::string longDir = dir.path();
  for (int i = 0; i < 18; ++i) longDir += "/" + std::string(200, 'd');
  std::filesystem::create_directories(longDir);
  RunResult which = run({"sh", "-c", "command -v git"});
  ASSERT_EQ(which.status, 0);
  std::filesystem::create_symlink(which.out.substr(0, which.out.find('\n')), longDir + "/git");
  std::filesystem::create_symlink(hushmarkBinary(), dir / "h");
  RunOptions options = at(dir.path(), {{"PATH", longDir + ":/usr/bin:/bin"}});

  auto withPaths = [&](std::size_t count) {
    std::vector<std::string> args = {dir / "h", "freeze"};
    args.resize(count + 2, std::string(1000, 'p'));
    return run(args, options);
  };
  // The most paths the program starts with (an exec that fails gives 127).
  // No system takes more than 6 MiB of arguments.
  std::size_t low = 0, high = 7000;
  ASSERT_NE(withPaths(low).status, 127);
  ASSERT_EQ(withPaths(high).status, 127);
  while (high - low > 1) {
    std::size_t middle = (low + high) / 2;
    (withPaths(middle).status == 127 ? high : low) = middle;
  }
  RunResult result = withPaths(low);
  if (result.err == "hushmark: git command failed\n" && !spawnOfMissingProgramFails()) {
    GTEST_SKIP() << "a start that the system refuses is reported as a success here, and the "
                    "program sees only git's 127 (an emulator's fault)";
  }
  expectFailure(result, "hushmark: ArgumentListTooLong\n");
}

// The words git receives, recorded by a stand-in that writes each one
// NUL-terminated into a file.
TEST(SkipWorktree, ExactWordsForGit) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {{"freeze", "a.txt", "docs/b.md"},
       {"update-index", "--skip-worktree", "--", "a.txt", "docs/b.md"}},
      {{"unfreeze", "a.txt"}, {"update-index", "--no-skip-worktree", "--", "a.txt"}},
      {{"freeze", "b", "a", "b", "a"},
       {"update-index", "--skip-worktree", "--", "b", "a", "b", "a"}},
      {{"freeze", " padded ", "say \"hi\"", "it's", "C:\\dir\\f", "$PATH", "*.o", "line\nbreak"},
       {"update-index", "--skip-worktree", "--", " padded ", "say \"hi\"", "it's", "C:\\dir\\f",
        "$PATH", "*.o", "line\nbreak"}},
      {{"unfreeze", "--", "-dash", "--", "-"},
       {"update-index", "--no-skip-worktree", "--", "-dash", "--", "-"}},
      {{"freeze", "./a", "../b", "/abs/c", "\xff\xfe"},
       {"update-index", "--skip-worktree", "--", "./a", "../b", "/abs/c", "\xff\xfe"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    TempDir dir;
    std::filesystem::create_directory(dir / "bin");
    writeScript(dir / "bin/git", "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + dir / "words" +
                                     "'\necho 'noise on stdout'\necho 'warning: noise' >&2\n");
    RunOptions options;
    const char* path = std::getenv("PATH");
    options.env["PATH"] = dir / "bin" + ":" + (path != nullptr ? path : "/usr/bin:/bin");
    expectSilentSuccess(hushmark(c.args, options));

    std::string expected;
    for (const std::string& word : c.words) expected += word + '\0';
    EXPECT_EQ(readFile(dir / "words"), expected);
  }
}

}  // namespace
}  // namespace hushmark::test
