#include "worktree/list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace hushmark {
namespace {

std::string hidden(std::string_view content) {
  ByteBuffer out;
  EXPECT_TRUE(appendHiddenPatterns(out, content).has_value());
  return std::string(out.view());
}

std::string frozen(std::string_view lsFiles) {
  ByteBuffer out;
  EXPECT_TRUE(appendFrozenPaths(out, lsFiles).has_value());
  return std::string(out.view());
}

struct FormatCase {
  const char* name;
  std::string input;
  std::string output;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.name;
}

class HiddenPatternsTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(HiddenPatternsTest, ListsPatternLines) {
  EXPECT_EQ(hidden(GetParam().input), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HiddenPatternsTest,
    ::testing::Values(FormatCase{"Empty", "", ""},
                      FormatCase{"MixedFile", "a\r\n\r\n  # note\n\tb \n# x",
                                 "hide\ta\nhide\t  # note\nhide\t\tb \n"},
                      FormatCase{"SpacesOnly", "  \n \r\n", ""},
                      FormatCase{"TabsArePatterns", " \t \n\t\n", "hide\t \t \nhide\t\t\n"},
                      FormatCase{"ByteOrderMarkFirstOnly",
                                 "\xEF\xBB\xBF#c\n\xEF\xBB\xBF"
                                 "a\n",
                                 "hide\t\xEF\xBB\xBF"
                                 "a\n"},
                      FormatCase{"OneCrEndsALine", "a\r\r\n", "hide\ta\r\n"},
                      FormatCase{"EscapedHash", "\\#a\n", "hide\t\\#a\n"},
                      FormatCase{"Duplicates", "a\nb\na\n", "hide\ta\nhide\tb\nhide\ta\n"},
                      FormatCase{"IndentedTabComment", "\t#c\n", "hide\t\t#c\n"},
                      FormatCase{"HashInside", "a#b\n", "hide\ta#b\n"},
                      // Only spaces and tabs are set aside for the test: a CR at the start
                      // makes a pattern.
                      FormatCase{"LeadingCr", "\r#a\n", "hide\t\r#a\n"},
                      FormatCase{"LastLineWithoutLineFeed", "a\nb", "hide\ta\nhide\tb\n"}),
    [](const auto& info) { return std::string(info.param.name); });

class FrozenPathsTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FrozenPathsTest, ListsSkipWorktreeEntries) {
  EXPECT_EQ(frozen(GetParam().input), GetParam().output);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, FrozenPathsTest,
    ::testing::Values(
        FormatCase{"Empty", "", ""},
        FormatCase{"FourEntries", "H a\0S b c\0s d\0S e\0"s, "freeze\tb c\nfreeze\td\nfreeze\te\n"},
        FormatCase{"ShortPieces", "S\0\0S\0"s, ""}, FormatCase{"EmptyPath", "S \0"s, "freeze\t\n"},
        FormatCase{"TabWithoutSpace", "S\ta\0"s, ""},
        FormatCase{"PathBytesUnchanged", "S q\"\t\\\xc3\xa9\r\0"s, "freeze\tq\"\t\\\xc3\xa9\r\n"},
        // A line feed anywhere, or a double quote first, quotes the path.
        FormatCase{"Quoted", "S \"\\\a\r\x01\x1f\x7f\xc3\xa9\0s a\nb\0"s,
                   "freeze\t\"\\\"\\\\\\a\\r\\001\\037\\177\xc3\xa9\"\nfreeze\t\"a\\nb\"\n"},
        FormatCase{"LastEntryWithoutNul", "H a\0S b"s, "freeze\tb\n"},
        FormatCase{"OtherTags", "M a\0C b\0K c\0? d\0"s, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The same listing cut into two or three pieces at every place gives the
// same lines as the whole.
TEST(FrozenPathFilterTest, PiecesCutAnywhereGiveTheSameLines) {
  const std::string listing = "H a\0S b c\0S \0H long/unlisted/path\0S e"s;
  const std::string whole = frozen(listing);
  ASSERT_EQ(whole, "freeze\tb c\nfreeze\t\nfreeze\te\n");
  for (std::size_t first = 0; first <= listing.size(); ++first) {
    for (std::size_t second = first; second <= listing.size(); ++second) {
      ByteBuffer out;
      FrozenPathFilter filter(out, SIZE_MAX);
      std::string_view rest = listing;
      ASSERT_TRUE(filter.take(rest.substr(0, first)).has_value());
      ASSERT_TRUE(filter.take(rest.substr(first, second - first)).has_value());
      ASSERT_TRUE(filter.take(rest.substr(second)).has_value());
      ASSERT_TRUE(filter.finish().has_value());
      ASSERT_EQ(out.view(), whole) << first << " " << second;
    }
  }
}

// The cap counts the listed entries as git wrote them, NUL included, and
// nothing else, wherever the listing is cut.
TEST(FrozenPathFilterTest, CapCountsOnlyListedEntries) {
  const std::string listing = "S ab\0H unlisted\0S cd\0"s;
  for (std::size_t cap : {10u, 9u}) {
    for (std::size_t cut = 0; cut <= listing.size(); ++cut) {
      ByteBuffer out;
      FrozenPathFilter filter(out, cap);
      Status taken = filter.take(std::string_view(listing).substr(0, cut));
      if (taken) taken = filter.take(std::string_view(listing).substr(cut));
      if (taken) taken = filter.finish();
      EXPECT_EQ(taken, cap == 10 ? Status() : fail(Error::StreamTooLong)) << cap << " " << cut;
    }
  }
}

TEST(ListFormatTest, AppendsBehindWhatIsThere) {
  ByteBuffer out;
  ASSERT_TRUE(appendHiddenPatterns(out, "a\n").has_value());
  ASSERT_TRUE(appendFrozenPaths(out, std::string_view("S f\0", 4)).has_value());
  EXPECT_EQ(out.view(), "hide\ta\nfreeze\tf\n");
}

}  // namespace
}  // namespace hushmark
