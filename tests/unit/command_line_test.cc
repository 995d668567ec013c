#include "runtime/command_line_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wtf8.h"

namespace hushmark {
namespace {

std::vector<std::string> splitToStrings(std::u16string_view line) {
  auto split = CommandLineArgs::split(line);
  EXPECT_TRUE(split);
  std::vector<std::string> words;
  if (!split) return words;
  for (char* word : split->args()) words.emplace_back(word);
  EXPECT_EQ(split->args().data()[split->args().size()], nullptr);
  return words;
}

TEST(CommandLine, SplitsByTheCRuntimeRules) {
  struct Case {
    std::u16string line;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {u"", {""}},
      {u"p", {"p"}},
      {u"p  a\tb  ", {"p", "a", "b"}},
      {uR"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
      {uR"(p "ab\"c" "\\" d)", {"p", "ab\"c", "\\", "d"}},
      {uR"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
      {uR"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
      {uR"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
      // Two quotes inside a quoted part: one literal quote, the part goes on.
      {uR"(p a"b"" c d)", {"p", "ab\" c d"}},
      {uR"(p "" "")", {"p", "", ""}},
      {uR"(p "a b)", {"p", "a b"}},
      {uR"(p trailing\)", {"p", "trailing\\"}},
      {uR"(p "C:\dir\\" x)", {"p", "C:\\dir\\", "x"}},
      // The program's name: quotes dropped, backslashes plain.
      {uR"("C:\Program Files\h.exe" -h)", {R"(C:\Program Files\h.exe)", "-h"}},
      {uR"(C:\dir\"h .exe" x)", {R"(C:\dir\h .exe)", "x"}},
      // Non-ASCII, a pair split by quotes, unpaired surrogates.
      {u"p \u00e9\u4e2d \U0001F600 \xD83D\"\"\xDE00",
       {"p", "\xc3\xa9\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"}},
      {u"p \xD800 a\xDFFF \xDC00\xD800 \xD800",
       {"p", "\xed\xa0\x80", "a\xed\xbf\xbf", "\xed\xb0\x80\xed\xa0\x80", "\xed\xa0\x80"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    EXPECT_EQ(splitToStrings(c.line), c.words);
  }
}

TEST(Wtf8, RoundTripsEveryUtf16String) {
  struct Case {
    std::u16string units;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {u"", ""},
      {u"a\u007f", "a\x7f"},
      {u"\u0080\u07ff\u0800\uffff", "\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
      {u"\U00010000\U0010FFFF", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
      {u"\xD800x\xDBFF", "\xed\xa0\x80x\xed\xaf\xbf"},
      {u"\xDC00\xD800", "\xed\xb0\x80\xed\xa0\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(wtf8Length(c.units), c.bytes.size());
    ByteBuffer encoded;
    ASSERT_TRUE(appendWtf8(encoded, c.units));
    EXPECT_EQ(encoded.view(), c.bytes);
    Utf16Text decoded;
    ASSERT_TRUE(decoded.appendWtf8(c.bytes));
    EXPECT_EQ(decoded.view(), c.units);
    EXPECT_EQ(decoded.c_str()[decoded.size()], u'\0');
  }
}

TEST(Wtf8, RejectsBytesThatAreNoWtf8) {
  for (std::string_view bad :
       {"\x80", "\xc0\xaf", "\xc1\xbf", "\xc3", "\xe0\x80\xaf", "\xe2\x82", "\xf0\x8f\xbf\xbf",
        "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff", "a\xc3(", "\xed\xa0"}) {
    SCOPED_TRACE(bad);
    Utf16Text text;
    ASSERT_TRUE(text.append(u"keep"));
    auto result = text.appendWtf8(bad);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::InvalidWtf8);
    EXPECT_EQ(text.view(), u"keep");
    EXPECT_EQ(text.c_str()[4], u'\0');
  }
}

// Text for a console: what is no WTF-8 shows as U+FFFD, lone surrogates
// stay, and a piece handed on ends before a sequence still incomplete.
TEST(Wtf8, ShownTextAndCompletePieces) {
  struct Case {
    std::string bytes;
    std::u16string shown;
    std::size_t completeEnd;
  };
  const std::vector<Case> cases = {
      {"caf\xc3\xa9", u"caf\u00e9", 5},
      {"\xf0\x9f\x98\x80", u"\U0001F600", 4},
      {"\xed\xa0\x80", u"\xD800", 3},
      {"x\xff\xe2\x82\xac", u"x\uFFFD\u20AC", 5},
      {"a\xc3", u"a\uFFFD", 1},
      {"ab\xf0\x9f\x98", u"ab\uFFFD\uFFFD\uFFFD", 2},
      {"\x80\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    std::u16string units(c.bytes.size(), u'\0');
    units.resize(decodeWtf8ForDisplay(c.bytes, units.data()));
    EXPECT_EQ(units, c.shown);
    EXPECT_EQ(wtf8CompleteEnd(c.bytes), c.completeEnd);
  }
}

}  // namespace
}  // namespace hushmark
