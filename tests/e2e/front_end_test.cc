#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace hushmark::test {
namespace {

const std::string topUsage =
    "Usage: hushmark [--help] [--version] <command> [arguments]\n"
    "\n"
    "Keep local Git noise local.\n"
    "\n"
    "Commands:\n"
    "  hide <pattern>...    Add patterns to .git/info/exclude\n"
    "  unhide <pattern>...  Remove patterns from .git/info/exclude\n"
    "  freeze <path>...     Mark tracked files as skip-worktree\n"
    "  unfreeze <path>...   Clear skip-worktree from tracked files\n"
    "  list                 List hidden patterns and frozen paths\n";

const std::string hideUsage =
    "Usage: hushmark hide <pattern>...\n"
    "Add patterns to .git/info/exclude.\n";
const std::string unhideUsage =
    "Usage: hushmark unhide <pattern>...\n"
    "Remove exact patterns from .git/info/exclude.\n";
const std::string freezeUsage =
    "Usage: hushmark freeze <path>...\n"
    "Mark tracked files as skip-worktree.\n";
const std::string unfreezeUsage =
    "Usage: hushmark unfreeze <path>...\n"
    "Clear skip-worktree from tracked files.\n";
const std::string listUsage =
    "Usage: hushmark list\n"
    "List hidden patterns and frozen paths.\n";

const std::string versionLine = "hushmark 0.0.3\n";

const std::string notACommand = "Error while parsing arguments: NameNotPartOfEnum\n";

std::string invalidArgument(const std::string& shown) {
  return "Invalid argument '" + shown + "'\n";
}

std::string takesNoValue(const std::string& shown) {
  return "The argument '" + shown + "' does not take a value\n";
}

// The same cases run the Windows build under Wine, where variable names
// ignore case.
#ifdef HUSHMARK_EMULATOR
constexpr bool namesIgnoreCase = true;
#else
constexpr bool namesIgnoreCase = false;
#endif

const std::string colouredPrefix = "\x1b[31m\x1b[1merror\x1b[0m\x1b[2m\x1b[1m: \x1b[0m";

// What a pseudo-terminal hands back for `text`: its output processing turns
// every line feed into a carriage return and a line feed.
std::string asTerminalShowsIt(const std::string& text) {
  std::string shown;
  for (char c : text) {
    if (c == '\n') shown += '\r';
    shown += c;
  }
  return shown;
}

std::string describe(const std::vector<std::string>& args) {
  std::string text = "args:";
  for (const std::string& arg : args) text += " [" + arg + "]";
  return text;
}

struct Case {
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
};

// Runs every case outside any repository, so that a command that runs by
// mistake fails visibly instead of changing something.
void expectRuns(const std::vector<Case>& cases, const RunOptions& options = {}) {
  TempDir outside;
  RunOptions where = options;
  if (where.cwd.empty()) where.cwd = outside.path();
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.args));
    RunResult result = hushmark(c.args, where);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.signal, 0);
  }
}

// Standard output replaced by a device on which every write fails for lack
// of room.
void stdoutToFullDevice() {
  int full = ::open("/dev/full", O_WRONLY);
  if (full < 0) _exit(126);
  ::dup2(full, 1);
  ::close(full);
}

// Standard output replaced by a pipe that nobody reads any more.
void stdoutToClosedPipe() {
  int ends[2];
  if (::pipe(ends) != 0) _exit(126);
  ::close(ends[0]);
  ::dup2(ends[1], 1);
  ::close(ends[1]);
}

void stderrToFullDevice() {
  int full = ::open("/dev/full", O_WRONLY);
  if (full < 0) _exit(126);
  ::dup2(full, 2);
  ::close(full);
}

TEST(FrontEnd, VersionLine) {
  RunResult result = hushmark({"--version"});
  EXPECT_EQ(result.out, "hushmark 0.0.3\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

TEST(FrontEnd, FixedTextsHaveTheirLengths) {
  EXPECT_EQ(topUsage.size(), 400u);
  EXPECT_EQ(hideUsage.size(), 69u);
  EXPECT_EQ(unhideUsage.size(), 82u);
  EXPECT_EQ(freezeUsage.size(), 70u);
  EXPECT_EQ(unfreezeUsage.size(), 75u);
  EXPECT_EQ(listUsage.size(), 60u);
  EXPECT_EQ(versionLine.size(), 15u);
}

TEST(FrontEnd, TopLevelOptionsAndMissingCommand) {
  expectRuns({
      {{}, "", topUsage, 2},
      {{"--"}, "", topUsage, 2},
      {{"--help"}, topUsage, "", 0},
      {{"-h"}, topUsage, "", 0},
      {{"-h", "-h", "--help"}, topUsage, "", 0},
      {{"--version"}, versionLine, "", 0},
      {{"-V"}, versionLine, "", 0},
      {{"-V", "--version"}, versionLine, "", 0},
      // Help is decided before the version.
      {{"-V", "-h"}, topUsage, "", 0},
      {{"--version", "--help"}, topUsage, "", 0},
      {{"-hV"}, topUsage, "", 0},
      {{"-Vh"}, topUsage, "", 0},
      // A command word after the options is not run, nor are its arguments
      // looked at.
      {{"--help", "hide", "x"}, topUsage, "", 0},
      {{"--help", "list", "--bogus"}, topUsage, "", 0},
      {{"--version", "list"}, versionLine, "", 0},
      {{"-V", "hide"}, versionLine, "", 0},
      {{"-V", "freeze", "-x"}, versionLine, "", 0},
  });
}

TEST(FrontEnd, UnknownCommandWords) {
  expectRuns({
      {{"Hide", "x"}, "", notACommand, 2},
      {{"hid", "x"}, "", notACommand, 2},
      {{"hidex"}, "", notACommand, 2},
      {{"LIST"}, "", notACommand, 2},
      {{"-"}, "", notACommand, 2},
      {{""}, "", notACommand, 2},
      {{" hide"}, "", notACommand, 2},
      {{"\xff"}, "", notACommand, 2},
      // The parse error wins over the help flag before it.
      {{"--help", "bogus"}, "", notACommand, 2},
      {{"-V", "bogus"}, "", notACommand, 2},
      // After "--" the next argument is the command word whatever it looks
      // like.
      {{"--", "-h"}, "", notACommand, 2},
      {{"--", "--"}, "", notACommand, 2},
      {{"--", "--version"}, "", notACommand, 2},
  });
}

TEST(FrontEnd, TopLevelParseErrors) {
  expectRuns({
      {{"--bogus"}, "", invalidArgument("--bogus"), 2},
      {{"-x"}, "", invalidArgument("-x"), 2},
      {{"--help=1"}, "", takesNoValue("--help"), 2},
      {{"--help="}, "", takesNoValue("--help"), 2},
      {{"--version=0.0.3"}, "", takesNoValue("--version"), 2},
      {{"-V="}, "", takesNoValue("-V"), 2},
      {{"-h=1"}, "", takesNoValue("-h"), 2},
      {{"--=x"}, "", invalidArgument("--"), 2},
      {{"--HELP"}, "", invalidArgument("--HELP"), 2},
      {{"--hel"}, "", invalidArgument("--hel"), 2},
      {{"--helpx"}, "", invalidArgument("--helpx"), 2},
      {{"-H"}, "", invalidArgument("-H"), 2},
      {{"-v"}, "", invalidArgument("-v"), 2},
      // A parse error wins over help and version given before it.
      {{"-hx"}, "", invalidArgument("-x"), 2},
      {{"-h", "--bogus"}, "", invalidArgument("--bogus"), 2},
      {{"--version", "-q"}, "", invalidArgument("-q"), 2},
      {{"-Vh="}, "", takesNoValue("-h"), 2},
      {{"--n\xc3\xa4me=v"}, "", invalidArgument("--n\xc3\xa4me"), 2},
  });
}

// Bytes of an argument are shown as they are, even when they are no UTF-8
// (which a Windows command line cannot carry).
TEST(FrontEnd, ArgumentBytesAreShownAsTheyAre) {
  expectRuns({{{"--\xff\xfe"}, "", invalidArgument("--\xff\xfe"), 2}});
}

TEST(FrontEnd, CommandUsageTexts) {
  expectRuns({
      {{"hide", "--help"}, hideUsage, "", 0},
      {{"hide", "-h"}, hideUsage, "", 0},
      {{"unhide", "-h"}, unhideUsage, "", 0},
      {{"freeze", "--help"}, freezeUsage, "", 0},
      {{"unfreeze", "-h"}, unfreezeUsage, "", 0},
      {{"list", "--help"}, listUsage, "", 0},
      {{"list", "-h"}, listUsage, "", 0},
      {{"list", "-hh"}, listUsage, "", 0},
      // Help wins over the values given with it, before or after it.
      {{"hide", "--help", "x"}, hideUsage, "", 0},
      {{"hide", "a", "-h"}, hideUsage, "", 0},
      {{"hide", "-h", "a", "b"}, hideUsage, "", 0},
      {{"unfreeze", "a", "--help", "b"}, unfreezeUsage, "", 0},
      // The top level's "--" only frees the command word.
      {{"--", "hide", "--help"}, hideUsage, "", 0},
      {{"--", "list", "-h"}, listUsage, "", 0},
  });
}

TEST(FrontEnd, CommandsWithoutValues) {
  expectRuns({
      {{"hide"}, "", "hushmark: hide requires at least one pattern\n", 2},
      {{"unhide"}, "", "hushmark: unhide requires at least one pattern\n", 2},
      {{"freeze"}, "", "hushmark: freeze requires at least one path\n", 2},
      {{"unfreeze"}, "", "hushmark: unfreeze requires at least one path\n", 2},
      {{"hide", "--"}, "", "hushmark: hide requires at least one pattern\n", 2},
      {{"freeze", "--"}, "", "hushmark: freeze requires at least one path\n", 2},
      {{"--", "unhide"}, "", "hushmark: unhide requires at least one pattern\n", 2},
  });
}

TEST(FrontEnd, CommandParseErrors) {
  expectRuns({
      {{"hide", "--help=yes"}, "", takesNoValue("--help"), 2},
      {{"hide", "--help="}, "", takesNoValue("--help"), 2},
      {{"hide", "-h=1"}, "", takesNoValue("-h"), 2},
      {{"hide", "-hx"}, "", invalidArgument("-x"), 2},
      {{"hide", "-H"}, "", invalidArgument("-H"), 2},
      {{"hide", "--HELP"}, "", invalidArgument("--HELP"), 2},
      {{"hide", "--hel"}, "", invalidArgument("--hel"), 2},
      {{"hide", "--version"}, "", invalidArgument("--version"), 2},
      {{"freeze", "-V"}, "", invalidArgument("-V"), 2},
      {{"unhide", "a", "--bogus", "b"}, "", invalidArgument("--bogus"), 2},
      {{"unfreeze", "--=x"}, "", invalidArgument("--"), 2},
      // An error anywhere wins over a help flag.
      {{"hide", "-h", "--bogus"}, "", invalidArgument("--bogus"), 2},
      {{"hide", "--bogus", "-h"}, "", invalidArgument("--bogus"), 2},
      {{"list", "x"}, "", invalidArgument("x"), 2},
      {{"list", "--"}, "", invalidArgument("--"), 2},
      {{"list", "-"}, "", invalidArgument("-"), 2},
      {{"list", ""}, "", invalidArgument(""), 2},
      {{"list", "-x"}, "", invalidArgument("-x"), 2},
      {{"list", "--help=1"}, "", takesNoValue("--help"), 2},
      {{"list", "-h", "x"}, "", invalidArgument("x"), 2},
      {{"list", "--version"}, "", invalidArgument("--version"), 2},
  });
}

TEST(FrontEnd, LongDiagnosticIsWrittenWhole) {
  std::string name(3000, 'n');
  expectRuns({
      {{"hide", "--" + name}, "", invalidArgument("--" + name), 2},
      {{"list", name + "x"}, "", invalidArgument(name + "x"), 2},
  });
}

// The values reach the command as given: the first "--" is swallowed, and
// everything after it is a value.
TEST(FrontEnd, ValuesReachHide) {
  struct ValueCase {
    std::vector<std::string> args;
    std::string exclude;
  };
  const std::vector<ValueCase> cases = {
      {{"--", "hide", "x"}, "x\n"},
      {{"hide", "a", "--", "b", "--", "d"}, "a\nb\n--\nd\n"},
      {{"hide", "--", "-h"}, "-h\n"},
      {{"hide", "-"}, "-\n"},
      {{"hide", "--", "--help", "-V", "--"}, "--help\n-V\n--\n"},
      {{"hide", "b", "a"}, "b\na\n"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(describe(c.args));
    GitRepo repo;
    writeFile(repo.excludePath(), "");
    RunResult result = repo.hushmark(c.args);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(repo.excludePath()), c.exclude);
  }
}

// Help, version and usage problems leave the repository alone.
TEST(FrontEnd, NothingRunsAfterUsageOrVersion) {
  GitRepo repo;
  writeFile(repo.excludePath(), "kept\n");
  const std::vector<std::vector<std::string>> argLists = {
      {"--help", "hide", "x"},  {"--version", "hide", "x"}, {"hide", "--help", "x"},
      {"hide", "x", "-h"},      {"hide", "-h", "a", "b"},   {"hide", "x", "--bogus"},
      {"unhide", "kept", "-h"}, {"-h", "unhide", "kept"},
  };
  for (const std::vector<std::string>& args : argLists) {
    SCOPED_TRACE(describe(args));
    RunResult result = repo.hushmark(args);
    EXPECT_NE(result.status, 1);
    EXPECT_EQ(readFile(repo.excludePath()), "kept\n");
  }
}

TEST(FrontEnd, VersionAndListDoNotNeedARepository) {
  // Outside a repository list would fail; with --version it never runs.
  expectRuns({{{"--version", "list"}, versionLine, "", 0}, {{"list", "-h"}, listUsage, "", 0}});
}

TEST(FrontEnd, FailedGitRunAddsNothing) {
  TempDir outside;
  RunOptions options;
  options.cwd = outside.path();
  options.env["CLICOLOR_FORCE"] = "1";
  RunResult result = hushmark({"list"}, options);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 1);
  // Only the runner's own line: no fallback line, no colour.
  ASSERT_FALSE(result.err.empty());
  EXPECT_TRUE(result.err.starts_with("hushmark: ")) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  EXPECT_EQ(result.err.find("error: "), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << result.err;
}

TEST(FrontEnd, OtherCommandErrorGetsOneFallbackLine) {
  GitRepo repo;
  // An exclude file that is a directory cannot be read.
  std::filesystem::remove(repo.excludePath());
  std::filesystem::create_directories(repo.excludePath());
  RunResult result = repo.hushmark({"hide", "x"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "error: IsDir\n");
  EXPECT_EQ(result.status, 1);
}

TEST(FrontEnd, FailedWritesOfTexts) {
  RunOptions full;
  full.beforeExec = stdoutToFullDevice;
  expectRuns(
      {
          {{"--version"}, "", "error: NoSpaceLeft\n", 1},
          {{"--help"}, "", "error: NoSpaceLeft\n", 1},
          {{"hide", "-h"}, "", "error: NoSpaceLeft\n", 1},
          {{"list", "--help"}, "", "error: NoSpaceLeft\n", 1},
          // Texts meant for standard error are not disturbed.
          {{}, "", topUsage, 2},
          {{"--bogus"}, "", invalidArgument("--bogus"), 2},
          {{"freeze"}, "", "hushmark: freeze requires at least one path\n", 2},
      },
      full);

  RunOptions closed;
  closed.beforeExec = stdoutToClosedPipe;
  expectRuns(
      {
          {{"--help"}, "", "error: BrokenPipe\n", 1},
          {{"--version"}, "", "error: BrokenPipe\n", 1},
          {{"unfreeze", "--help"}, "", "error: BrokenPipe\n", 1},
      },
      closed);
}

// When standard error itself cannot be written, the status still tells the
// route: a usage problem whose text is lost stays status 2, while a lost
// at-least-one line is a write error like any other.
TEST(FrontEnd, StatusWhenStandardErrorIsFull) {
  RunOptions options;
  options.beforeExec = stderrToFullDevice;
  expectRuns(
      {
          {{}, "", "", 2},
          {{"--bogus"}, "", "", 2},
          {{"hide", "-x"}, "", "", 2},
          {{"--help"}, topUsage, "", 0},
          {{"hide"}, "", "", 1},
      },
      options);
}

struct ColourCase {
  std::string what;
  std::map<std::string, std::optional<std::string>> env;
  bool terminal;
  std::string err;
};

// The fallback line of a failed write of the version line.
void expectFallbackLines(const std::vector<ColourCase>& cases) {
  for (const ColourCase& c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions options;
    options.env = c.env;
    options.stderrOnTerminal = c.terminal;
    options.beforeExec = stdoutToFullDevice;
    RunResult result = hushmark({"--version"}, options);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, 1);
  }
}

TEST(FrontEnd, FallbackLineColour) {
  const std::string plain = "error: NoSpaceLeft\n";
  const std::string coloured = colouredPrefix + "NoSpaceLeft\n";
  const std::vector<ColourCase> cases = {
      {"pipe", {}, false, plain},
      {"pipe, forced", {{"CLICOLOR_FORCE", "1"}}, false, coloured},
      {"pipe, forced with empty value", {{"CLICOLOR_FORCE", ""}}, false, coloured},
      {"pipe, forced, NO_COLOR", {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", "1"}}, false, plain},
      {"pipe, forced, empty NO_COLOR", {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", ""}}, false, plain},
      {"pipe, forced, no_color", {{"CLICOLOR_FORCE", "1"}, {"no_color", ""}}, false, plain},
      {"pipe, forced, No_Color", {{"CLICOLOR_FORCE", "1"}, {"No_Color", "0"}}, false, plain},
      {"pipe, forced, NO_COLOUR is another name",
       {{"CLICOLOR_FORCE", "1"}, {"NO_COLOUR", "1"}},
       false,
       coloured},
      {"pipe, only NO_COLOR", {{"NO_COLOR", "1"}}, false, plain},
      // Windows names ignore case; POSIX names do not.
      {"pipe, forced as clicolor_force",
       {{"clicolor_force", "1"}},
       false,
       namesIgnoreCase ? coloured : plain},
  };
  expectFallbackLines(cases);
}

TEST(FrontEnd, FallbackLineColourOnTerminal) {
  const std::string plain = "error: NoSpaceLeft\n";
  const std::string coloured = colouredPrefix + "NoSpaceLeft\n";
  const std::vector<ColourCase> cases = {
      {"terminal", {{"TERM", "xterm"}}, true, asTerminalShowsIt(coloured)},
      {"terminal, NO_COLOR", {{"TERM", "xterm"}, {"NO_COLOR", ""}}, true, asTerminalShowsIt(plain)},
      {"terminal, no_color",
       {{"TERM", "xterm"}, {"no_color", "1"}},
       true,
       asTerminalShowsIt(plain)},
      {"terminal, forced, NO_COLOR",
       {{"TERM", "xterm"}, {"CLICOLOR_FORCE", "1"}, {"NO_COLOR", "1"}},
       true,
       asTerminalShowsIt(plain)},
      {"dumb terminal", {{"TERM", "dumb"}}, true, asTerminalShowsIt(plain)},
      {"dumb terminal, forced",
       {{"TERM", "dumb"}, {"CLICOLOR_FORCE", "1"}},
       true,
       asTerminalShowsIt(coloured)},
  };
  expectFallbackLines(cases);
}

// Only the fallback line is ever styled: diagnostics, usage on standard
// error and the at-least-one line stay plain, forced or on a terminal.
const std::vector<Case>& neverColoured() {
  static const std::vector<Case> cases = {
      {{"--bogus"}, "", invalidArgument("--bogus"), 2},
      {{"bogus"}, "", notACommand, 2},
      {{"hide", "--help=1"}, "", takesNoValue("--help"), 2},
      {{"list", "x"}, "", invalidArgument("x"), 2},
      {{"unhide"}, "", "hushmark: unhide requires at least one pattern\n", 2},
      {{}, "", topUsage, 2},
  };
  return cases;
}

TEST(FrontEnd, OtherMessagesAreNeverColoured) {
  const std::vector<Case>& cases = neverColoured();
  RunOptions forced;
  forced.env["CLICOLOR_FORCE"] = "1";
  expectRuns(cases, forced);
}

TEST(FrontEnd, OtherMessagesAreNeverColouredOnTerminal) {
  std::vector<Case> onTerminal = neverColoured();
  for (Case& c : onTerminal) c.err = asTerminalShowsIt(c.err);
  RunOptions terminal;
  terminal.env["CLICOLOR_FORCE"] = "1";
  terminal.env["TERM"] = "xterm";
  terminal.stderrOnTerminal = true;
  expectRuns(onTerminal, terminal);
}

}  // namespace
}  // namespace hushmark::test
