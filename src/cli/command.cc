#include "cli/command.h"

#include <new>

#include "base/buffer.h"
#include "cli/parser.h"
#include "cli/usage.h"
#include "runtime/output.h"

namespace hushmark {

namespace {

constexpr Command allCommands[] = {Command::Hide, Command::Unhide, Command::Freeze,
                                   Command::Unfreeze, Command::List};

std::string_view argumentNoun(Command command) {
  return command == Command::Hide || command == Command::Unhide ? "pattern" : "path";
}

// "hushmark: <command> requires at least one <noun>\n", composed first and
// written whole.
Status reportMissingValues(Command command) {
  ByteBuffer line;
  for (std::string_view piece : {std::string_view("hushmark: "), commandName(command),
                                 std::string_view(" requires at least one "), argumentNoun(command),
                                 std::string_view("\n")}) {
    if (auto added = line.append(piece); !added) return added;
  }
  return writeAll(standardError(), line.view());
}

// A usage problem: the message goes to standard error (a failed write is of
// no further interest) and the run ends as a usage error.
std::unexpected<Error> usageProblem(const Diagnostic& diagnostic, Error error) {
  (void)reportParseError(diagnostic, error, standardError());
  return fail(Error::InvalidUsage);
}

Result<std::optional<CommandArgs>> parseList(ArgIterator& args) {
  Diagnostic diagnostic;
  ArgParser parser(listParams, args, &diagnostic);
  bool help = false;
  for (;;) {
    auto parsed = parser.next();
    if (!parsed) return usageProblem(diagnostic, parsed.error());
    if (!*parsed) break;
    help = true;  // the table's only parameter
  }
  if (help) {
    if (auto shown = printCommandUsage(Command::List); !shown) return fail(shown.error());
    return std::nullopt;
  }
  return CommandArgs{};
}

Result<std::optional<CommandArgs>> parseWithValues(Command command, ArgIterator& args) {
  Diagnostic diagnostic;
  ArgParser parser(commandParams, args, &diagnostic);
  bool help = false;
  CommandArgs result;
  for (;;) {
    auto parsed = parser.next();
    if (!parsed) return usageProblem(diagnostic, parsed.error());
    if (!*parsed) break;
    if ((*parsed)->param->isPositional()) {
      try {
        result.values.push_back(*(*parsed)->value);
      } catch (const std::bad_alloc&) {
        return usageProblem(diagnostic, Error::OutOfMemory);
      }
    } else {
      help = true;
    }
  }
  if (help) {
    if (auto shown = printCommandUsage(command); !shown) return fail(shown.error());
    return std::nullopt;
  }
  if (result.values.empty()) {
    if (auto reported = reportMissingValues(command); !reported) return fail(reported.error());
    return fail(Error::InvalidUsage);
  }
  try {
    result.values.shrink_to_fit();
  } catch (const std::bad_alloc&) {
    return usageProblem(diagnostic, Error::OutOfMemory);
  }
  return result;
}

}  // namespace

std::string_view commandName(Command command) {
  switch (command) {
    case Command::Hide:
      return "hide";
    case Command::Unhide:
      return "unhide";
    case Command::Freeze:
      return "freeze";
    case Command::Unfreeze:
      return "unfreeze";
    case Command::List:
      return "list";
  }
  return {};
}

Result<Command> lookupCommand(std::string_view word) {
  for (Command command : allCommands) {
    if (commandName(command) == word) return command;
  }
  return fail(Error::NameNotPartOfEnum);
}

Result<std::optional<CommandArgs>> parseCommandArgs(Command command, ArgIterator& args) {
  if (command == Command::List) return parseList(args);
  return parseWithValues(command, args);
}

}  // namespace hushmark
