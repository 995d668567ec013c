#include "exclude/patterns.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace hushmark {
namespace {

enum class Edit { Hide, Unhide };

struct EditCase {
  const char* name;
  Edit edit;
  std::string before;
  std::vector<std::string> arguments;
  // nullopt: no change, the file is not rewritten.
  std::optional<std::string> after;
};

void PrintTo(const EditCase& c, std::ostream* os) {
  *os << c.name;
}

std::optional<std::string> apply(Edit edit, std::string_view content,
                                 const std::vector<std::string>& arguments) {
  std::vector<std::string_view> views(arguments.begin(), arguments.end());
  auto result = edit == Edit::Hide ? addPatterns(content, views) : removePatterns(content, views);
  EXPECT_TRUE(result.has_value());
  if (!result || !*result) return std::nullopt;
  return (*result)->str();
}

class EditTest : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditTest, GivesTheExpectedContent) {
  const EditCase& c = GetParam();
  EXPECT_EQ(apply(c.edit, c.before, c.arguments), c.after);
}

const std::string bom = "\xEF\xBB\xBF";

// A missing file reads as empty content, so its rows appear here with "".
const EditCase editCases[] = {
    {"HideIntoMissingFile", Edit::Hide, "", {"a"}, "a\n"},
    {"HideAfterLastLineWithoutLineFeed", Edit::Hide, "a", {"b"}, "a\nb\n"},
    {"HideTurnsCrLfIntoLf", Edit::Hide, "a\r\nb\r\n", {"x"}, "a\nb\nx\n"},
    {"HidePresentBehindCrLf", Edit::Hide, "a\r\nb\r\n", {"a"}, std::nullopt},
    {"HidePresentWithoutLineFeed", Edit::Hide, "a", {"a"}, std::nullopt},
    {"HideRepeatedArgumentOnce", Edit::Hide, "", {"a", "b", "a"}, "a\nb\n"},
    {"HideNormalisesArguments", Edit::Hide, "a\n", {" b\t", "b"}, "a\nb\n"},
    {"HideLeadingBlankLineIsOther", Edit::Hide, " a\n", {"a"}, " a\na\n"},
    {"HidePresentBeforeTrailingBlanks", Edit::Hide, "a  \r\n", {"a"}, std::nullopt},
    {"HideKeepsBlankAndCommentLines", Edit::Hide, "a\n\n# x\n", {"y"}, "a\n\n# x\ny\n"},
    {"HideCommentAsPattern", Edit::Hide, "# x\n", {"# x"}, std::nullopt},
    {"HideKeepsOldDuplicates", Edit::Hide, "a\na\n", {"b"}, "a\na\nb\n"},
    {"HideBlankArgument", Edit::Hide, "a\n", {" "}, std::nullopt},
    {"UnhideEveryOccurrence", Edit::Unhide, "a\nb\na\n", {"a"}, "b\n"},
    {"UnhideOnlyLine", Edit::Unhide, "a\n", {"a"}, ""},
    {"UnhideAbsent", Edit::Unhide, "a\nb\n", {"x"}, std::nullopt},
    {"UnhideFromMissingFile", Edit::Unhide, "", {"a"}, std::nullopt},
    {"UnhideTurnsCrLfIntoLf", Edit::Unhide, "a\r\nb\r\n", {"a"}, "b\n"},
    {"UnhideLineWithTrailingBlanks", Edit::Unhide, "a  \na\\ \n", {"a"}, "a\\ \n"},
    {"UnhideNormalisedArgument", Edit::Unhide, " a\n", {" a "}, std::nullopt},
    {"UnhideKeepsBlankLine", Edit::Unhide, "a\n\nb\n", {"a"}, "\nb\n"},
    {"UnhideSeveral", Edit::Unhide, "a\nb\nx\n", {"x", "a"}, "b\n"},
    {"UnhideBlankArguments", Edit::Unhide, "a\n", {" ", "\t"}, std::nullopt},
    {"UnhideComment", Edit::Unhide, "# a\n", {"# a"}, ""},
    // Beyond the table.
    {"HideArgumentWithInnerLineFeed", Edit::Hide, "a\n", {"b\nc"}, "a\nb\nc\n"},
    {"HideInnerLineFeedAgain", Edit::Hide, "b\nc\n", {"b \r\n\tc"}, std::nullopt},
    {"UnhideArgumentWithInnerLineFeed", Edit::Unhide, "b\nc\nd\n", {"b\nc"}, "d\n"},
    {"HideBehindMark", Edit::Hide, bom + "a\r\n", {"a", "b"}, bom + "a\nb\n"},
    {"UnhideBehindMark", Edit::Unhide, bom + "a\nb\n", {"a"}, bom + "b\n"},
    // A line that comes first and begins with the mark's bytes gets a mark.
    {"HideMarkLedIntoEmpty", Edit::Hide, "", {bom + "b"}, bom + bom + "b\n"},
    {"UnhideBeforeMarkLed", Edit::Unhide, "a\n" + bom + "b\n", {"a"}, bom + bom + "b\n"},
    {"HideBesideDoubleCr", Edit::Hide, "a\r\r\n", {"a"}, "a\r\r\na\n"},
    {"HideOnlyTheMissingOnesInArgumentOrder", Edit::Hide, "b\n", {"c", "b", "a"}, "b\nc\na\n"},
    {"HideAfterCrRunAndLastLineWithoutLineFeed", Edit::Hide, "a\r\r\nb\r", {"c"}, "a\r\r\nb\nc\n"},
    {"HideKeepsInnerCr", Edit::Hide, "a\rb\n", {"c"}, "a\rb\nc\n"},
    {"HideIntoEmptyLinesOnly", Edit::Hide, "\n\n", {"a"}, "\n\na\n"},
    {"HideMatchesLineWithInnerCr", Edit::Hide, "a\rb\r\n", {"a\rb"}, std::nullopt},
    {"HideStripsArgumentLineEnds", Edit::Hide, "", {"\r\na\r\n"}, "a\n"},
    {"UnhideLastLineWithoutLineFeed", Edit::Unhide, "a\nb", {"a"}, "b\n"},
    {"UnhideGivesLastLineItsLineFeed", Edit::Unhide, "a\nb", {"x", "a"}, "b\n"},
    {"UnhideNeverMatchesTheEmptyLine", Edit::Unhide, "\na\n", {""}, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Table, EditTest, ::testing::ValuesIn(editCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NormalizePatternTest, TrimsBlanksAndLineEndsAtBothEndsOnly) {
  EXPECT_EQ(normalizePattern(" \t\r\na b\t\r\nc\n\r\t "), "a b\t\r\nc");
  EXPECT_EQ(normalizePattern("build/"), "build/");
  EXPECT_EQ(normalizePattern(" \t\r\n"), "");
  EXPECT_EQ(normalizePattern(""), "");
  // Other control bytes are part of the pattern.
  EXPECT_EQ(normalizePattern("\va\f"), "\va\f");
  // A trailing space behind an odd number of backslashes stays, and the
  // trim stops there; behind an even number it goes.
  EXPECT_EQ(normalizePattern(" a\\  \t"), "a\\ ");
  EXPECT_EQ(normalizePattern("a\\\\\\ \n"), "a\\\\\\ ");
  EXPECT_EQ(normalizePattern("a\\\\ "), "a\\\\");
  EXPECT_EQ(normalizePattern("\\ "), "\\ ");
  EXPECT_EQ(normalizePattern("a\\\t"), "a\\");
}

TEST(EditTest, LargeContentGainsOnlyTheNewLine) {
  std::string content;
  for (int i = 0; i < 10000; ++i) content += "line" + std::to_string(i) + "\n";
  EXPECT_EQ(apply(Edit::Hide, content, {"line9999"}), std::nullopt);
  EXPECT_EQ(apply(Edit::Hide, content, {"new", "line0"}), content + "new\n");
  EXPECT_EQ(apply(Edit::Unhide, content, {"line0"}), content.substr(6));
}

}  // namespace
}  // namespace hushmark
