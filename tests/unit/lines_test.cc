#include "exclude/lines.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace hushmark {
namespace {

std::vector<std::string> linesOf(std::string_view content) {
  std::vector<std::string> lines;
  ExcludeLineIterator iterator(content);
  while (auto line = iterator.next()) lines.emplace_back(*line);
  return lines;
}

struct LineCase {
  std::string content;
  std::vector<std::string> lines;
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.content) << " -> " << ::testing::PrintToString(c.lines);
}

class LineModelTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineModelTest, YieldsTheLinesOfTheContent) {
  EXPECT_EQ(linesOf(GetParam().content), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineModelTest,
    ::testing::Values(LineCase{"a\nb\n", {"a", "b"}}, LineCase{"a\nb", {"a", "b"}},
                      LineCase{"a\r\nb\r\n", {"a", "b"}}, LineCase{"a\r\r\n", {"a\r"}},
                      LineCase{" a \t\r\n", {" a \t"}}, LineCase{"a\n\nb", {"a", "", "b"}},
                      LineCase{"a\n\n", {"a", ""}}, LineCase{"\r\n", {""}}, LineCase{"\n", {""}},
                      LineCase{"", {}},
                      // Only one CR at the very end of a line goes; others stay.
                      LineCase{"a\rb\r\n", {"a\rb"}}, LineCase{"\ra\n", {"\ra"}},
                      LineCase{"a\r\n\r", {"a", ""}}, LineCase{"a\r", {"a"}},
                      LineCase{"\r\r\r", {"\r\r"}},
                      LineCase{std::string("a\0b\n", 4), {{"a\0b", 3}}}));

TEST(LineModelTest, LinesAreViewsIntoTheContent) {
  std::string content = "first\r\nsecond";
  ExcludeLineIterator iterator(content);
  auto first = iterator.next();
  auto second = iterator.next();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->data(), content.data());
  EXPECT_EQ(first->size(), 5u);
  EXPECT_EQ(second->data(), content.data() + 7);
  EXPECT_FALSE(iterator.next());
  EXPECT_FALSE(iterator.next());
}

}  // namespace
}  // namespace hushmark
