#include "cli/front_end.h"

#include <new>
#include <optional>

#include "cli/arg_iterator.h"
#include "cli/command.h"
#include "cli/parser.h"
#include "cli/usage.h"
#include "exclude/hide.h"
#include "exclude/unhide.h"
#include "runtime/exit.h"
#include "runtime/log.h"
#include "runtime/output.h"
#include "worktree/list.h"
#include "worktree/skip_worktree.h"

namespace hushmark {

namespace {

struct TopLevelArgs {
  bool help = false;
  bool version = false;
  std::optional<Command> command;
};

// The top level stops pulling arguments at the command word: everything
// after it belongs to the command.
Result<TopLevelArgs> parseTopLevel(ArgIterator& args, Diagnostic& diagnostic) {
  TopLevelArgs top;
  ArgParser parser(topLevelParams, args, &diagnostic);
  for (;;) {
    auto parsed = parser.next();
    if (!parsed) return fail(parsed.error());
    if (!*parsed) return top;
    std::string_view name = (*parsed)->param->name;
    if (name == "help") {
      top.help = true;
    } else if (name == "version") {
      top.version = true;
    } else {
      auto command = lookupCommand(*(*parsed)->value);
      if (!command) return fail(command.error());
      top.command = *command;
      return top;
    }
  }
}

Status runCommand(Command command, const CommandArgs& commandArgs) {
  std::span<const std::string_view> values = commandArgs.values;
  switch (command) {
    case Command::Hide:
      return hideCommand(values);
    case Command::Unhide:
      return unhideCommand(values);
    case Command::Freeze:
      return freezeCommand(values);
    case Command::Unfreeze:
      return unfreezeCommand(values);
    case Command::List:
      return listCommand();
  }
  return fail(Error::Unexpected);
}

// Parses the command's arguments and runs it; success also when only the
// command's usage was shown.
Status parseAndRun(Command command, ArgIterator& args) {
  auto commandArgs = parseCommandArgs(command, args);
  if (!commandArgs) return fail(commandArgs.error());
  if (!*commandArgs) return {};
  return runCommand(command, **commandArgs);
}

// Turns the outcome into the exit status by its route.
int finish(Status outcome) {
  if (outcome) return 0;
  switch (outcome.error()) {
    case Error::GitCommandFailed:
      exitProcess(1);
    case Error::InvalidUsage:
      exitProcess(2);
    default:
      logError({errorName(outcome.error())});
      return 1;
  }
}

// Runs the program over the words of `args`.
int runWords(ArgIterator& args) {
  (void)args.next();  // the program's own name; messages say "hushmark"

  Diagnostic diagnostic;
  auto top = parseTopLevel(args, diagnostic);
  if (!top) {
    (void)reportParseError(diagnostic, top.error(), standardError());
    exitProcess(2);
  }
  if (top->help) return finish(printTopUsage(standardOutput()));
  if (top->version) return finish(printVersion());
  if (!top->command) {
    (void)printTopUsage(standardError());
    exitProcess(2);
  }
  return finish(parseAndRun(*top->command, args));
}

}  // namespace

int runFrontEnd(std::span<char* const> args) {
  try {
    ArgIterator words(args);
    return runWords(words);
  } catch (const std::bad_alloc&) {
    logError({errorName(Error::OutOfMemory)});
    return 1;
  }
}

}  // namespace hushmark
