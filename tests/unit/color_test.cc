#include "runtime/color.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/environment.h"

namespace hushmark {
namespace {

// The same table as Environment::fromEntries makes, from a list that can be
// kept in a test case.
Environment environmentOf(const std::vector<std::string_view>& entries) {
  ByteBuffer table;
  for (std::string_view entry : entries) {
    EXPECT_TRUE(table.append(entry));
    EXPECT_TRUE(table.append('\0'));
  }
  return Environment(std::move(table));
}

const char* modeName(ColorMode mode) {
  switch (mode) {
    case ColorMode::None:
      return "none";
    case ColorMode::EscapeSequences:
      return "escape sequences";
    case ColorMode::ConsoleAttributes:
      return "console attributes";
  }
  return "?";
}

TEST(Environment, FromEntries) {
  auto environment = Environment::fromEntries({"A=1", "B=", "C=x=y"});
  ASSERT_TRUE(environment);
  EXPECT_EQ(environment->get("A"), "1");
  EXPECT_EQ(environment->get("B"), "");
  EXPECT_EQ(environment->get("C"), "x=y");
  EXPECT_FALSE(environment->get("D"));
}

TEST(Environment, ExactLookup) {
  Environment environment = environmentOf({"PATH=/bin:/usr/bin", "EMPTY=", "EQUALS=a=b=c", "BARE",
                                           "=C:=C:\\work", "DUP=first", "DUP=second"});
  EXPECT_EQ(environment.get("PATH"), "/bin:/usr/bin");
  EXPECT_EQ(environment.get("EMPTY"), "");
  EXPECT_EQ(environment.get("EQUALS"), "a=b=c");
  // An entry without "=" is a name with an empty value.
  EXPECT_EQ(environment.get("BARE"), "");
  // A leading "=" belongs to the name.
  EXPECT_EQ(environment.get("=C:"), "C:\\work");
  EXPECT_EQ(environment.get("DUP"), "first");
  EXPECT_FALSE(environment.get("path"));
  EXPECT_FALSE(environment.get("PAT"));
  EXPECT_FALSE(environment.get("PATHX"));
  EXPECT_FALSE(environment.get(""));
  EXPECT_FALSE(environment.get("/bin:/usr/bin"));
}

TEST(Environment, LookupIgnoringCase) {
  Environment environment = environmentOf({"no_color=", "Other=NO_COLOR", "X_NO_COLOR=1"});
  EXPECT_TRUE(environment.hasIgnoringCase("NO_COLOR"));
  EXPECT_TRUE(environment.hasIgnoringCase("No_Color"));
  EXPECT_FALSE(environment.get("NO_COLOR"));
  // Only whole names count, never values or parts of names.
  EXPECT_FALSE(environment.hasIgnoringCase("NO_COLO"));
  EXPECT_FALSE(environment.hasIgnoringCase("COLOR"));
  EXPECT_FALSE(environmentOf({"NO_COLORS=1"}).hasIgnoringCase("NO_COLOR"));
  EXPECT_FALSE(environmentOf({"OTHER=NO_COLOR"}).hasIgnoringCase("NO_COLOR"));
  // Case folding is ASCII only: bytes past it must match exactly.
  EXPECT_FALSE(environmentOf({"\xc3\x89=1"}).hasIgnoringCase("\xc3\xa9"));
  EXPECT_FALSE(Environment().hasIgnoringCase("NO_COLOR"));
  EXPECT_FALSE(Environment().get("NO_COLOR"));
}

TEST(ChooseColorMode, FirstMatchingRuleWins) {
  const TerminalInfo pipe{};
  const TerminalInfo terminal{.takesEscapes = true};
  const TerminalInfo console{.hasConsoleAttributes = true, .savedAttributes = 7};
  const TerminalInfo both{.takesEscapes = true, .hasConsoleAttributes = true, .savedAttributes = 7};
  const TerminalInfo pty{.pseudoTerminalPipe = true};
  struct Case {
    std::string what;
    std::vector<std::string_view> entries;
    TerminalInfo terminal;
    ColorMode mode;
  };
  const std::vector<Case> cases = {
      {"pipe", {}, pipe, ColorMode::None},
      {"pipe, forced", {"CLICOLOR_FORCE=1"}, pipe, ColorMode::EscapeSequences},
      {"pipe, forced empty", {"CLICOLOR_FORCE="}, pipe, ColorMode::EscapeSequences},
      {"pipe, forced, NO_COLOR", {"CLICOLOR_FORCE=1", "NO_COLOR="}, pipe, ColorMode::None},
      {"pipe, NO_COLOR after forcing", {"NO_COLOR=1", "CLICOLOR_FORCE=1"}, pipe, ColorMode::None},
      {"pipe, forced, no_color", {"CLICOLOR_FORCE=1", "no_color=1"}, pipe, ColorMode::None},
      {"terminal", {}, terminal, ColorMode::EscapeSequences},
      {"terminal, NO_COLOR", {"NO_COLOR="}, terminal, ColorMode::None},
      {"terminal, nO_cOlOr", {"nO_cOlOr=0"}, terminal, ColorMode::None},
      {"console", {}, console, ColorMode::ConsoleAttributes},
      {"console, forced", {"CLICOLOR_FORCE=1"}, console, ColorMode::ConsoleAttributes},
      {"console, NO_COLOR", {"NO_COLOR="}, console, ColorMode::None},
      {"console taking escapes", {}, both, ColorMode::EscapeSequences},
      {"msys pty pipe", {}, pty, ColorMode::EscapeSequences},
      {"msys pty pipe, NO_COLOR", {"NO_COLOR=1", "CLICOLOR_FORCE=1"}, pty, ColorMode::None},
      {"unrelated variables", {"COLOR=1", "FORCE_COLOR=1", "TERM=xterm"}, pipe, ColorMode::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_STREQ(modeName(chooseColorMode(environmentOf(c.entries), c.terminal)), modeName(c.mode));
  }
}

TEST(ChooseColorMode, NoColorIsLookedAtBeforeStandardErrorIsInspected) {
  int inspections = 0;
  auto console = [&] {
    ++inspections;
    return TerminalInfo{.hasConsoleAttributes = true};
  };
  EXPECT_STREQ(modeName(chooseColorMode(environmentOf({"no_color="}), console)), "none");
  EXPECT_EQ(inspections, 0);
  EXPECT_STREQ(modeName(chooseColorMode(environmentOf({}), console)), "console attributes");
  EXPECT_EQ(inspections, 1);
}

TEST(ChooseColorMode, PseudoTerminalPipeNames) {
  for (std::u16string_view name : {u"\\msys-1888ae32e00d56aa-pty0-to-master",
                                   u"\\cygwin-e022582115c10879-pty4-from-master", u"\\msys--pty"}) {
    EXPECT_TRUE(isPseudoTerminalPipeName(name));
  }
  for (std::u16string_view name :
       {u"\\msys-1888ae32e00d56aa-pipe", u"msys-1-pty0-to-master", u"\\MSYS-1-pty0",
        u"\\x\\msys-1-pty0", u"\\mingw-1-pty0", u"\\cygwin", u""}) {
    EXPECT_FALSE(isPseudoTerminalPipeName(name));
  }
}

TEST(ColorStyles, EscapeSequences) {
  EXPECT_EQ(escapeSequence(Style::Red), "\x1b[31m");
  EXPECT_EQ(escapeSequence(Style::Bold), "\x1b[1m");
  EXPECT_EQ(escapeSequence(Style::Dim), "\x1b[2m");
  EXPECT_EQ(escapeSequence(Style::Reset), "\x1b[0m");
}

// The words the fallback line sets, step by step, on consoles of several
// colours: the console takes a whole word each time, so every step keeps
// what it does not change (the background above all), and the line ends
// with the console as it found it.
TEST(ColorStyles, AttributeWordsKeepWhatTheyDoNotChange) {
  struct Case {
    std::uint16_t saved;
    std::vector<std::uint16_t> words;  // red, bold, reset, dim, bold, reset
  };
  const std::vector<Case> cases = {
      {0x07, {0x04, 0x0C, 0x07, 0x08, 0x08, 0x07}},  // grey on black
      {0x1F, {0x14, 0x1C, 0x1F, 0x18, 0x18, 0x1F}},  // white on blue
      // Reverse video and grid lines are no colour, and stay.
      {0x4C72, {0x4C74, 0x4C7C, 0x4C72, 0x4C78, 0x4C78, 0x4C72}},
  };
  const Style steps[] = {Style::Red, Style::Bold, Style::Reset,
                         Style::Dim, Style::Bold, Style::Reset};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.saved);
    std::uint16_t current = c.saved;
    std::vector<std::uint16_t> words;
    for (Style step : steps) words.push_back(current = attributeWord(step, current, c.saved));
    EXPECT_EQ(words, c.words);
  }
}

}  // namespace
}  // namespace hushmark
