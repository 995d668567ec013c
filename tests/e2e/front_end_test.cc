#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace hushmark::test {
namespace {

TEST(FrontEnd, VersionLine) {
  RunResult result = hushmark({"--version"});
  EXPECT_EQ(result.out, "hushmark 0.0.3\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

}  // namespace
}  // namespace hushmark::test
