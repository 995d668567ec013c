#include "cli/parser.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command.h"

namespace hushmark {
namespace {

// Arguments as the start-up code hands them over, the program's name first.
class Args {
 public:
  explicit Args(std::vector<std::string> args) : strings_(std::move(args)) {
    strings_.insert(strings_.begin(), "hushmark");
    for (std::string& s : strings_) pointers_.push_back(s.data());
    iterator_.emplace(std::span<char* const>(pointers_));
    (void)iterator_->next();
  }
  ArgIterator& iterator() { return *iterator_; }
  // The storage of the i-th argument after the program's name.
  const char* storage(std::size_t i) const { return strings_[i + 1].data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
  std::optional<ArgIterator> iterator_;
};

// One parser result written as text: "name" for a flag, "name=value" for a
// parameter with a value.
std::string show(const ParsedArg& arg) {
  std::string text(arg.param->name);
  if (arg.value) text += "=" + std::string(*arg.value);
  return text;
}

// The diagnostic is copied out, since it points into the arguments.
struct Outcome {
  std::vector<std::string> results;
  std::optional<Error> error;
  std::string arg;
  std::optional<std::string> longName;
  std::optional<char> shortName;
};

Outcome parseAll(std::span<const Param> table, std::vector<std::string> argv) {
  Args args(std::move(argv));
  Outcome outcome;
  Diagnostic diagnostic;
  ArgParser parser(table, args.iterator(), &diagnostic);
  for (;;) {
    auto parsed = parser.next();
    if (!parsed) {
      outcome.error = parsed.error();
      outcome.arg = diagnostic.arg;
      if (diagnostic.longName) outcome.longName = std::string(*diagnostic.longName);
      outcome.shortName = diagnostic.shortName;
      break;
    }
    if (!*parsed) break;
    outcome.results.push_back(show(**parsed));
  }
  return outcome;
}

std::string describe(const std::vector<std::string>& args) {
  std::string text = "args:";
  for (const std::string& arg : args) text += " [" + arg + "]";
  return text;
}

struct SuccessCase {
  std::vector<std::string> args;
  std::vector<std::string> results;
};

void expectParses(std::span<const Param> table, const std::vector<SuccessCase>& cases) {
  for (const SuccessCase& c : cases) {
    SCOPED_TRACE(describe(c.args));
    Outcome outcome = parseAll(table, c.args);
    EXPECT_FALSE(outcome.error) << errorName(*outcome.error);
    EXPECT_EQ(outcome.results, c.results);
  }
}

struct FailureCase {
  std::vector<std::string> args;
  std::vector<std::string> resultsBefore;
  Error error;
  std::string arg;
  std::optional<std::string> longName;
  std::optional<char> shortName;
};

void expectFailures(std::span<const Param> table, const std::vector<FailureCase>& cases) {
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(describe(c.args));
    Outcome outcome = parseAll(table, c.args);
    EXPECT_EQ(outcome.results, c.resultsBefore);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(errorName(*outcome.error), errorName(c.error));
    EXPECT_EQ(outcome.arg, c.arg);
    EXPECT_EQ(outcome.longName, c.longName);
    EXPECT_EQ(outcome.shortName, c.shortName);
  }
}

// A table whose options take values, as none of the program's own do.
constexpr Param valueTable[] = {
    {'h', "help", ValueKind::None, "help"},
    {'o', "output", ValueKind::One, "output"},
    {'I', "include", ValueKind::Many, "include"},
    {std::nullopt, std::nullopt, ValueKind::Many, "str"},
};

TEST(ArgParser, TopLevelTable) {
  expectParses(topLevelParams, {
                                   {{}, {}},
                                   {{"--help"}, {"help"}},
                                   {{"-h", "--version", "-V"}, {"help", "version", "version"}},
                                   {{"-hV"}, {"help", "version"}},
                                   {{"-Vh"}, {"version", "help"}},
                                   {{"-hVh"}, {"help", "version", "help"}},
                                   {{"hide", "x"}, {"command=hide", "command=x"}},
                                   {{"-"}, {"command=-"}},
                                   {{""}, {"command="}},
                                   {{"--"}, {}},
                                   {{"--", "--help"}, {"command=--help"}},
                               });
}

TEST(ArgParser, DoubleDashIsSwallowedOnce) {
  expectParses(commandParams,
               {
                   {{"a", "--", "b", "--", "d"}, {"str=a", "str=b", "str=--", "str=d"}},
                   {{"--", "-h"}, {"str=-h"}},
                   {{"--", "--help=x", "-"}, {"str=--help=x", "str=-"}},
                   {{"a", "--"}, {"str=a"}},
                   {{"-"}, {"str=-"}},
                   {{"a", "-h", "b"}, {"str=a", "help", "str=b"}},
                   {{"-h", "--", "-h"}, {"help", "str=-h"}},
               });
}

TEST(ArgParser, ParseErrorsFillTheDiagnostic) {
  expectFailures(topLevelParams,
                 {
                     {{"--bogus"}, {}, Error::InvalidArgument, "bogus", "bogus", std::nullopt},
                     {{"-x"}, {}, Error::InvalidArgument, "x", std::nullopt, 'x'},
                     {{"-hx"}, {"help"}, Error::InvalidArgument, "hx", std::nullopt, 'x'},
                     {{"--help=1"}, {}, Error::DoesntTakeValue, "help=1", "help", std::nullopt},
                     {{"--help="}, {}, Error::DoesntTakeValue, "help=", "help", std::nullopt},
                     {{"-V="}, {}, Error::DoesntTakeValue, "V=", std::nullopt, 'V'},
                     {{"-hV=x"}, {"help"}, Error::DoesntTakeValue, "hV=x", std::nullopt, 'V'},
                     {{"--=x"}, {}, Error::InvalidArgument, "=x", "", std::nullopt},
                     {{"--HELP"}, {}, Error::InvalidArgument, "HELP", "HELP", std::nullopt},
                     {{"--hel"}, {}, Error::InvalidArgument, "hel", "hel", std::nullopt},
                     {{"--a=b=c"}, {}, Error::InvalidArgument, "a=b=c", "a", std::nullopt},
                 });
  expectFailures(
      commandParams,
      {
          {{"a", "-h=1"}, {"str=a"}, Error::DoesntTakeValue, "h=1", std::nullopt, 'h'},
          {{"--version"}, {}, Error::InvalidArgument, "version", "version", std::nullopt},
      });
  // A table without a positional parameter rejects every positional
  // argument, "--" and "-" included, under its whole text.
  expectFailures(
      listParams,
      {
          {{"x"}, {}, Error::InvalidArgument, "x", std::nullopt, std::nullopt},
          {{"--"}, {}, Error::InvalidArgument, "--", std::nullopt, std::nullopt},
          {{"-"}, {}, Error::InvalidArgument, "-", std::nullopt, std::nullopt},
          {{""}, {}, Error::InvalidArgument, "", std::nullopt, std::nullopt},
          {{"-h", "x"}, {"help"}, Error::InvalidArgument, "x", std::nullopt, std::nullopt},
      });
}

TEST(ArgParser, OptionsWithValues) {
  expectParses(valueTable, {
                               {{"--output=f"}, {"output=f"}},
                               {{"--output="}, {"output="}},
                               {{"--output=a=b"}, {"output=a=b"}},
                               {{"--output", "f"}, {"output=f"}},
                               {{"--output", "-h"}, {"output=-h"}},
                               {{"--output", "--"}, {"output=--"}},
                               {{"-of"}, {"output=f"}},
                               {{"-o=f"}, {"output=f"}},
                               {{"-o=="}, {"output=="}},
                               {{"-o", "f"}, {"output=f"}},
                               {{"-o", "--", "x"}, {"output=--", "str=x"}},
                               {{"-hof"}, {"help", "output=f"}},
                               {{"-ho", "f", "g"}, {"help", "output=f", "str=g"}},
                               {{"-Ia", "-I", "b"}, {"include=a", "include=b"}},
                               {{"-oh"}, {"output=h"}},
                           });
  expectFailures(valueTable,
                 {
                     {{"--output"}, {}, Error::MissingValue, "output", "output", std::nullopt},
                     {{"-o"}, {}, Error::MissingValue, "o", std::nullopt, 'o'},
                     {{"-ho"}, {"help"}, Error::MissingValue, "ho", std::nullopt, 'o'},
                 });
}

TEST(ArgParser, ValuesAreViewsIntoTheArguments) {
  Args args({"--output=f", "-og", "plain", "--", "-x"});
  ArgParser parser(valueTable, args.iterator(), nullptr);
  const char* expected[] = {args.storage(0) + 9, args.storage(1) + 2, args.storage(2),
                            args.storage(4)};
  for (const char* where : expected) {
    auto parsed = parser.next();
    ASSERT_TRUE(parsed && *parsed);
    ASSERT_TRUE((*parsed)->value);
    EXPECT_EQ((*parsed)->value->data(), where);
  }
  auto end = parser.next();
  ASSERT_TRUE(end);
  EXPECT_FALSE(*end);
}

TEST(ArgParser, WorksWithoutADiagnostic) {
  Args args({"--bogus"});
  ArgParser parser(topLevelParams, args.iterator(), nullptr);
  auto parsed = parser.next();
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error(), Error::InvalidArgument);
}

// The top level and a command's parse share one iterator: what the first
// leaves behind, the second picks up from a fresh state.
TEST(ArgParser, SecondParserContinuesOnTheSameArguments) {
  Args args({"--", "hide", "--help", "x"});
  ArgParser top(topLevelParams, args.iterator(), nullptr);
  auto command = top.next();
  ASSERT_TRUE(command && *command);
  EXPECT_EQ(show(**command), "command=hide");

  ArgParser rest(commandParams, args.iterator(), nullptr);
  std::vector<std::string> results;
  for (auto parsed = rest.next(); parsed && *parsed; parsed = rest.next()) {
    results.push_back(show(**parsed));
  }
  EXPECT_EQ(results, (std::vector<std::string>{"help", "str=x"}));
}

TEST(ArgParser, PositionalParameter) {
  Args args({});
  ArgParser top(topLevelParams, args.iterator(), nullptr);
  ASSERT_NE(top.positionalParam(), nullptr);
  EXPECT_EQ(top.positionalParam()->name, "command");
  ArgParser command(commandParams, args.iterator(), nullptr);
  ASSERT_NE(command.positionalParam(), nullptr);
  EXPECT_EQ(command.positionalParam()->name, "str");
  ArgParser list(listParams, args.iterator(), nullptr);
  EXPECT_EQ(list.positionalParam(), nullptr);
}

TEST(LookupCommand, ExactWordsOnly) {
  const std::pair<std::string_view, Command> known[] = {{"hide", Command::Hide},
                                                        {"unhide", Command::Unhide},
                                                        {"freeze", Command::Freeze},
                                                        {"unfreeze", Command::Unfreeze},
                                                        {"list", Command::List}};
  for (const auto& [word, command] : known) {
    auto found = lookupCommand(word);
    ASSERT_TRUE(found) << word;
    EXPECT_EQ(*found, command);
    EXPECT_EQ(commandName(command), word);
  }
  const std::string_view unknown[] = {
      "Hide", "hid", "hidee", "h", "", "-", "list ", "freez", std::string_view("hide\0", 5)};
  for (std::string_view word : unknown) {
    auto found = lookupCommand(word);
    ASSERT_FALSE(found) << word;
    EXPECT_EQ(found.error(), Error::NameNotPartOfEnum);
  }
}

// Reads back what reportParseError writes into a pipe.
std::string reported(const Diagnostic& diagnostic, Error error) {
  int ends[2];
  if (::pipe(ends) != 0) return "<pipe failed>";
  Status status = reportParseError(diagnostic, error, ends[1]);
  ::close(ends[1]);
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = ::read(ends[0], chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(ends[0]);
  if (!status) text += "<" + std::string(errorName(status.error())) + ">";
  return text;
}

TEST(ReportParseError, Messages) {
  struct Case {
    Diagnostic diagnostic;
    Error error;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"bogus", "bogus", std::nullopt}, Error::InvalidArgument, "Invalid argument '--bogus'\n"},
      {{"hx", std::nullopt, 'x'}, Error::InvalidArgument, "Invalid argument '-x'\n"},
      {{"x", std::nullopt, std::nullopt}, Error::InvalidArgument, "Invalid argument 'x'\n"},
      {{"", std::nullopt, std::nullopt}, Error::InvalidArgument, "Invalid argument ''\n"},
      {{"=x", "", std::nullopt}, Error::InvalidArgument, "Invalid argument '--'\n"},
      // The long name is preferred to the short one, either to the text.
      {{"text", "long", 's'}, Error::InvalidArgument, "Invalid argument '--long'\n"},
      {{"help=1", "help", std::nullopt},
       Error::DoesntTakeValue,
       "The argument '--help' does not take a value\n"},
      {{"h=1", std::nullopt, 'h'},
       Error::DoesntTakeValue,
       "The argument '-h' does not take a value\n"},
      {{"output", "output", std::nullopt},
       Error::MissingValue,
       "The argument '--output' requires a value but none was supplied\n"},
      {{"o", std::nullopt, 'o'},
       Error::MissingValue,
       "The argument '-o' requires a value but none was supplied\n"},
      // Any other error names itself and ignores the diagnostic.
      {{"x", "x", 'x'},
       Error::NameNotPartOfEnum,
       "Error while parsing arguments: NameNotPartOfEnum\n"},
      {{}, Error::OutOfMemory, "Error while parsing arguments: OutOfMemory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(reported(c.diagnostic, c.error), c.message);
  }
}

TEST(ReportParseError, MessageLongerThanItsBufferArrivesWhole) {
  std::string name(5000, 'n');
  name[1023] = 'A';
  name[4999] = 'Z';
  Diagnostic diagnostic{name, name, std::nullopt};
  EXPECT_EQ(reported(diagnostic, Error::InvalidArgument), "Invalid argument '--" + name + "'\n");
}

TEST(ReportParseError, ReturnsTheWriteError) {
  int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  Status status = reportParseError({"x", std::nullopt, std::nullopt}, Error::InvalidArgument, full);
  ::close(full);
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error(), Error::NoSpaceLeft);
}

}  // namespace
}  // namespace hushmark
