// What a Windows user meets beyond the bytes: text on a console, and an
// exclude file past MAX_PATH.
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "win/e2e/stand_in_git.h"

namespace hushmark::test {
namespace {

namespace fs = std::filesystem;

// With both standard streams on a pseudo-terminal, Wine gives the program a
// console whose output code page is 437, as a default Windows console has:
// text written as UTF-16 shows as it is, UTF-8 bytes would show garbled.
// What the terminal received is turned back into the text shown: Wine's
// cursor moves forward become blanks, its other sequences and its line
// ends and wraps ("\r\r\n") go.
std::string shownOnConsole(const std::vector<std::string>& args, const RunOptions& base) {
  std::vector<std::string> argv = {"sh", "-c", "exec \"$0\" \"$@\" >&2", wineRunner(),
                                   hushmarkBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions options = base;
  options.stderrOnTerminal = true;
  std::string terminal = run(argv, options).err;
  std::string shown;
  for (std::size_t i = 0; i < terminal.size(); ++i) {
    if (terminal[i] == '\x1b' && i + 1 < terminal.size() && terminal[i + 1] == '[') {
      std::size_t count = 0;
      for (i += 2; i < terminal.size() && !std::isalpha(static_cast<unsigned char>(terminal[i]));
           ++i) {
        if (std::isdigit(static_cast<unsigned char>(terminal[i]))) {
          count = count * 10 + static_cast<std::size_t>(terminal[i] - '0');
        }
      }
      if (i < terminal.size() && terminal[i] == 'C') shown.append(count == 0 ? 1 : count, ' ');
    } else if (terminal[i] != '\r' && terminal[i] != '\n') {
      shown += terminal[i];
    }
  }
  return shown;
}

TEST(WinConsole, NonAsciiTextShowsAsWritten) {
  StandInGit git;
  git.excludeAt(git.dir() + "/exclude");
  writeFile(git.dir() + "/exclude", "caf\xc3\xa9\n");
  git.set("ls-files.out", std::string("S \xe6\x97\xa5\xe2\x82\xac\0", 9));
  git.set("update-index.err", "fatal: \xc3\xa9t\xc3\xa9\n");
  git.set("update-index.code", "128");
  // The parse diagnostic's 1024-byte buffer fills in the middle of "é".
  const std::string longArgument = "--" + std::string(1003, 'x') + "\xc3\xa9y";
  struct Case {
    std::vector<std::string> args;
    std::string shown;
  };
  const std::vector<Case> cases = {
      // The console turns tabs into blanks.
      {{"list"},
       "hide    caf\xc3\xa9"
       "freeze  \xe6\x97\xa5\xe2\x82\xac"},
      {{"freeze", "a"}, "hushmark: fatal: \xc3\xa9t\xc3\xa9"},
      {{"hide", longArgument}, "Invalid argument '" + longArgument + "'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    EXPECT_EQ(shownOnConsole(c.args, git.options()), c.shown);
  }
}

// Git names the file with forward slashes, past MAX_PATH: hide creates the
// missing directories and the file, unhide replaces it, list reads it.
TEST(WinExclude, PathPastMaxPath) {
  StandInGit git;
  std::string deep = git.dir();
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(100, 'd');
  const std::string exclude = deep + "/info/exclude";
  git.set("rev-parse.out", "Z:" + exclude + "\n");
  expectSilentSuccess(hushmark({"hide", "a", "b"}, git.options()));
  EXPECT_EQ(readFile(exclude), "a\nb\n");
  expectSilentSuccess(hushmark({"unhide", "a"}, git.options()));
  EXPECT_EQ(readFile(exclude), "b\n");
  EXPECT_EQ(fs::directory_iterator(deep + "/info")->path().filename(), "exclude");
  RunResult listed = hushmark({"list"}, git.options());
  EXPECT_EQ(listed.out, "hide\tb\n");
  EXPECT_EQ(listed.err, "");
}

// The application manifest is in the program whole.
TEST(WinProgram, ManifestIsEmbedded) {
  const std::string manifest = readFile(HUSHMARK_MANIFEST);
  ASSERT_NE(manifest.find("<ws2:longPathAware>true</ws2:longPathAware>"), std::string::npos);
  EXPECT_NE(readFile(hushmarkBinary()).find(manifest), std::string::npos);
}

}  // namespace
}  // namespace hushmark::test
