// The pure pieces of starting a program on Windows: the command line that
// carries each word unchanged, the quoting for a batch file, and the order
// in which the shell looks for a command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "git/command_line.h"
#include "git/program_search.h"

namespace hushmark {
namespace {

std::string commandLine(const std::vector<std::string>& words,
                        void (*append)(std::string&, std::string_view)) {
  std::string line;
  for (const std::string& word : words) append(line, word);
  return line;
}

TEST(CommandLineTest, QuotesOnlyWhatTheRuntimeWouldSplitOrStrip) {
  struct Case {
    std::string word;
    std::string quoted;
  };
  for (const Case& c : std::vector<Case>{
           {"plain", "plain"},
           {"", "\"\""},
           {"a b", "\"a b\""},
           {"tab\there", "\"tab\there\""},
           {"say \"hi\"", "\"say \\\"hi\\\"\""},
           {"C:\\dir\\", "C:\\dir\\"},
           {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
           {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
           {"back\\slash", "back\\slash"},
           {"caf\xc3\xa9", "caf\xc3\xa9"},
       }) {
    EXPECT_EQ(commandLine({c.word}, appendCommandLineWord<char>), c.quoted) << c.word;
  }
  EXPECT_EQ(commandLine({"a", "", "b c"}, appendCommandLineWord<char>), "a \"\" \"b c\"");
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
  bool found = searchProgram<char>("git", path, extensions, [&](const std::string& candidate) {
    seen.push_back(candidate);
    return seen.size() == stopAfter;
  });
  EXPECT_EQ(found, seen.size() == stopAfter);
  return seen;
}

TEST(ProgramSearchTest, CurrentDirectoryFirstThenPathEachWithEveryExtension) {
  EXPECT_EQ(candidates("C:\\a;;\"C:\\b c\";D:\\d\\", ".EXE;.BAT"),
            (std::vector<std::string>{".\\git.EXE", ".\\git.BAT", "C:\\a\\git.EXE",
                                      "C:\\a\\git.BAT", "C:\\b c\\git.EXE", "C:\\b c\\git.BAT",
                                      "D:\\d\\git.EXE", "D:\\d\\git.BAT"}));
  EXPECT_EQ(candidates("", ""),
            (std::vector<std::string>{".\\git.COM", ".\\git.EXE", ".\\git.BAT", ".\\git.CMD"}));
  EXPECT_EQ(candidates("C:\\a", ".exe", 2),
            (std::vector<std::string>{".\\git.exe", "C:\\a\\git.exe"}));
}

}  // namespace
}  // namespace hushmark
