// The allocation-failure sweep: for each route of the program, runs the
// test-only build once for every allocation that route makes, with that
// allocation failing. Every run must end with one of the program's texts
// for that failure (or, where the failure was absorbed, the normal
// result), never by a signal, an abort or a leak, and must leave the
// exclude file with its old or its new content. hide and unhide each write
// by two routes: the old bytes kept as they are, or the content rebuilt.
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace hushmark::test {
namespace {

namespace fs = std::filesystem;

struct Route {
  const char* name;
  std::vector<std::string> args;
  // The exclude file before each run, and after a normal run.
  std::string before;
  std::string after;
};

const std::set<std::string> failureTexts = {
    "error: OutOfMemory\n",
    "hushmark: OutOfMemory\n",
    "Error while parsing arguments: OutOfMemory\n",
    "error: failed to parse environment variables: OutOfMemory\n",
};

TEST(AllocationFailureSweep, EveryRoute) {
  const Route routes[] = {
      {"hide, appended", {"hide", "new"}, "a\n", "a\nnew\n"},
      {"hide, rebuilt", {"hide", "new"}, "a\r\n", "a\nnew\n"},
      {"hide, present", {"hide", "a"}, "a\n", "a\n"},
      {"unhide, kept stretches", {"unhide", "a"}, "a\nb\n", "b\n"},
      {"unhide, rebuilt", {"unhide", "a"}, "a\r\nb\r\n", "b\n"},
      {"list", {"list"}, "a\n", "a\n"},
      {"freeze", {"freeze", "tracked"}, "a\n", "a\n"},
      {"usage error", {"hide"}, "a\n", "a\n"},
  };
  GitRepo repo;
  repo.commitFiles({"tracked"});
  TempDir scratch;
  const std::string reached = scratch / "reached";
  for (const Route& route : routes) {
    SCOPED_TRACE(route.name);
    auto runWith = [&](long long failAt) {
      writeFile(repo.excludePath(), route.before);
      fs::remove(reached);
      RunOptions options;
      options.env["HUSHMARK_FAIL_ALLOCATION"] = std::to_string(failAt);
      options.env["HUSHMARK_FAIL_REACHED"] = reached;
      options.env["ASAN_OPTIONS"] = "detect_leaks=1";
      return repo.hushmark(route.args, options);
    };
    const RunResult normal = runWith(0);
    ASSERT_EQ(normal.signal, 0) << normal.err;
    ASSERT_EQ(readFile(repo.excludePath()), route.after);

    long long failAt = 1;
    for (;; ++failAt) {
      RunResult result = runWith(failAt);
      if (!fileExists(reached)) break;
      SCOPED_TRACE("allocation " + std::to_string(failAt));
      EXPECT_EQ(result.signal, 0) << result.err;
      bool asNormal =
          result.out == normal.out && result.err == normal.err && result.status == normal.status;
      if (!asNormal) {
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(failureTexts.contains(result.err)) << result.err;
        EXPECT_EQ(result.status, result.err.starts_with("Error while") ? 2 : 1);
      }
      std::string content = readFile(repo.excludePath());
      EXPECT_TRUE(content == route.before || content == route.after) << content;
      EXPECT_EQ(fs::directory_iterator(repo / ".git/info")->path().filename(), "exclude");
      EXPECT_EQ(std::distance(fs::directory_iterator(repo / ".git/info"), {}), 1);
      if (::testing::Test::HasFailure()) break;
    }
    std::cout << "[ " << route.name << ": " << failAt - 1 << " allocations swept ]\n";
    EXPECT_GT(failAt, 1);
  }
}

}  // namespace
}  // namespace hushmark::test
