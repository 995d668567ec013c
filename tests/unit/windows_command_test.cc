// The pure pieces of starting a program on Windows: the command line that
// carries each word unchanged, the quoting for a batch file, and the order
// in which a command is looked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/command_line_quote.h"
#include "runtime/command_line_split.h"
#include "runtime/program_search.h"
#include "runtime/wtf8.h"

namespace hushmark {
namespace {

std::string commandLine(const std::vector<std::string>& words,
                        void (*append)(std::string&, std::string_view)) {
  std::string line;
  for (const std::string& word : words) append(line, word);
  return line;
}

// Every word comes back from the C runtime's splitting as it went in.
TEST(CommandLineTest, EveryWordSurvivesTheRuntimesSplitting) {
  const std::vector<std::string> words = {
      "plain",        "",          "a b",       "tab\there",    "say \"hi\"",
      "\"",           "\"\"",      "C:\\dir\\", "C:\\my dir\\", "a\\\\\"b",
      "back\\slash",  "\\\\",      "end\\\"",   "--x=\"y z\"",  "caf\xc3\xa9",
      "\xed\xa0\x80", "line\nfeed"};
  Utf16Text word;
  std::u16string line = u"p";
  for (const std::string& text : words) {
    word.clear();
    ASSERT_TRUE(word.appendWtf8(text));
    appendCommandLineWord<char16_t>(line, word.view());
  }
  auto split = CommandLineArgs::split(line);
  ASSERT_TRUE(split);
  std::vector<std::string> back;
  for (char* arg : split->args().subspan(1)) back.emplace_back(arg);
  EXPECT_EQ(back, words);
  // Only what needs them gets quotes.
  EXPECT_EQ(commandLine({"a", "b\\c", "", "d e"}, appendCommandLineWord<char>),
            "a b\\c \"\" \"d e\"");
}

TEST(CommandLineTest, BatchWordsKeepCmdOperatorsAndVariablesInert) {
  struct Case {
    std::string word;
    std::string quoted;
  };
  for (const Case& c : std::vector<Case>{
           {"update-index", "update-index"},
           {"info/exclude", "info/exclude"},
           {"", "\"\""},
           {"a b", "\"a b\""},
           {"a&b|c", "\"a&b|c\""},
           {"say \"hi\"", "\"say \"\"hi\"\"\""},
           {"%PATH%", "\"%%cd:~,%PATH%%cd:~,%\""},
           {"dir\\", "\"dir\\\\\""},
           {"x^y", "\"x^y\""},
       }) {
    EXPECT_EQ(commandLine({c.word}, appendBatchWord<char>), c.quoted) << c.word;
  }
  EXPECT_TRUE(batchWordCarried<char>("a \"b\" %c%"));
  EXPECT_FALSE(batchWordCarried<char>("two\nlines"));
  EXPECT_FALSE(batchWordCarried<char>("cr\r"));
}

std::vector<std::string> candidates(std::string_view path, std::string_view extensions,
                                    std::size_t stopAfter = 100) {
  std::vector<std::string> seen;
  bool found = searchProgram<char>(windowsSearch, "git", path, extensions,
                                   [&](const std::string& candidate) {
                                     seen.push_back(candidate);
                                     return seen.size() == stopAfter;
                                   });
  EXPECT_EQ(found, seen.size() == stopAfter);
  return seen;
}

TEST(ProgramSearchTest, PathOnlyEachDirectoryWithEveryExtension) {
  EXPECT_EQ(candidates("C:\\a;;\"C:\\b c\";D:\\d\\", ".EXE;.BAT"),
            (std::vector<std::string>{"C:\\a\\git.EXE", "C:\\a\\git.BAT", "C:\\b c\\git.EXE",
                                      "C:\\b c\\git.BAT", "D:\\d\\git.EXE", "D:\\d\\git.BAT"}));
  EXPECT_EQ(candidates("C:\\a", ""),
            (std::vector<std::string>{"C:\\a\\git.COM", "C:\\a\\git.EXE", "C:\\a\\git.BAT",
                                      "C:\\a\\git.CMD"}));
  EXPECT_EQ(candidates("", ".exe"), std::vector<std::string>{});
  // A relative entry stays as written.
  EXPECT_EQ(candidates("C:\\a;.", ".exe", 2),
            (std::vector<std::string>{"C:\\a\\git.exe", ".\\git.exe"}));
}

}  // namespace
}  // namespace hushmark
