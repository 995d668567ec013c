// The pure pieces of starting a program on Windows: the command line that
// carries each word unchanged, the quoting for a batch file, and the order
// in which a command is looked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wtf8.h"
#include "files/windows_path.h"
#include "process/command_line_quote.h"
#include "process/program_search.h"
#include "process/windows_launch.h"
#include "runtime/command_line_split.h"

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
                                    std::size_t stopAfter = 100,
                                    SearchSyntax syntax = windowsSearch) {
  std::vector<std::string> seen;
  bool found =
      searchProgram<char>(syntax, "git", path, extensions, [&](const std::string& candidate) {
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
  // Only what CreateProcessW can start; PATHEXT without any: the default.
  EXPECT_EQ(candidates("C:\\a", ".VBS;.exe;.JS;.Cmd;.MSC;.exe2"),
            (std::vector<std::string>{"C:\\a\\git.exe", "C:\\a\\git.Cmd"}));
  EXPECT_EQ(candidates("C:\\a", ".VBS;.JS").size(), 4u);
}

// On POSIX systems no empty entry (leading, doubled, trailing) stands for
// the current directory, quotes are part of a name, and no extension is
// tried.
TEST(ProgramSearchTest, PosixPathSkipsEmptyEntries) {
  EXPECT_EQ(candidates(":/a::/b/:\"q\":.:", ".EXE", 100, posixSearch),
            (std::vector<std::string>{"/a/git", "/b/git", "\"q\"/git", "./git"}));
  EXPECT_EQ(candidates("", "", 100, posixSearch), std::vector<std::string>{});
  EXPECT_EQ(candidates(":::", "", 100, posixSearch), std::vector<std::string>{});
}

// cmd.exe's line for a batch file: a UNC current directory, which cmd
// refuses, goes to git with -C; the wrapper's expansion of %* keeps its
// room within cmd's limit.
TEST(BatchLaunchTest, DirectoryAndLimitOfCmd) {
  const std::vector<std::string> words = {"rev-parse", "--git-path", "info/exclude"};
  auto line = [&](std::string_view directory, const std::vector<std::string>& given) {
    return batchCommandLine<char>("C:\\Git\\git.cmd", given, directory);
  };
  EXPECT_EQ(line("C:\\repo", words).value(),
            "cmd.exe /d /e:on /v:off /s /c \"C:\\Git\\git.cmd rev-parse --git-path info/exclude\"");
  const std::string prefix = "cmd.exe /d /e:on /v:off /s /c \"C:\\Git\\git.cmd -C ";
  EXPECT_EQ(line("\\\\server\\share\\my repo", words).value(),
            prefix + "\"\\\\server\\share\\my repo\" rev-parse --git-path info/exclude\"");
  for (std::string_view unc : {"\\\\wsl.localhost\\Debian\\r", "\\\\?\\UNC\\s\\h", "//s/h"}) {
    EXPECT_EQ(line(unc, words).value(),
              prefix + std::string(unc) + " rev-parse --git-path info/exclude\"");
  }
  EXPECT_FALSE(cmdRefusesDirectory<char>("C:\\"));
  EXPECT_FALSE(cmdRefusesDirectory<char>("\\dir"));
  // The words' text and the wrapper's room fill cmd's limit exactly.
  auto filling = [](std::size_t length) {
    return std::vector<std::string>{"update-index", std::string(length - 13, 'p')};
  };
  const std::size_t most = maxCmdLine - batchWrapperRoom;
  EXPECT_TRUE(line("C:\\repo", filling(most)));
  EXPECT_EQ(line("C:\\repo", filling(most + 1)).error(), Error::ArgumentListTooLong);
  EXPECT_EQ(line("\\\\s\\h", filling(most - 5)).error(), Error::ArgumentListTooLong);
  EXPECT_EQ(line("C:\\repo", {"two\nlines"}).error(), Error::InvalidArgument);
}

// The output pipes: one allow entry for the process's own user, nothing
// inherited; and which exclude paths no Windows git writes.
TEST(WindowsChoicesTest, PipeProtectionAndPosixRoots) {
  EXPECT_EQ(currentUserOnlyDescriptor<char>("S-1-5-21-1-2-3-1001"),
            "D:P(A;;GA;;;S-1-5-21-1-2-3-1001)");
  for (std::string_view path : {"/c/repo/.git/info/exclude", "/cygdrive/c/r", "/"}) {
    EXPECT_TRUE(beginsWithPosixRoot(path)) << path;
  }
  for (std::string_view path : {"C:/repo/.git/info/exclude", "//server/share/x", "/\\server\\x",
                                ".git/info/exclude", "\\repo", ""}) {
    EXPECT_FALSE(beginsWithPosixRoot(path)) << path;
  }
}

}  // namespace
}  // namespace hushmark
