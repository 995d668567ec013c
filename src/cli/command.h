// The five commands, their words, and the parse of a command's own
// arguments.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "cli/arg_iterator.h"

namespace hushmark {

enum class Command : unsigned char { Hide, Unhide, Freeze, Unfreeze, List };

// The command word, which is also the command's name.
std::string_view commandName(Command command);

// Exact, case-sensitive lookup of a command word; NameNotPartOfEnum when the
// word names no command.
Result<Command> lookupCommand(std::string_view word);

// The positional values of a command that is to be run, in command-line
// order: at least one for hide, unhide, freeze and unfreeze, none for list.
struct CommandArgs {
  std::vector<std::string_view> values;
};

// Parses the rest of the arguments for `command`. Yields nullopt when the
// command's usage was shown (nothing more to do), the arguments to run the
// command with, InvalidUsage when a usage problem has been reported, or
// another error (a failed write, OutOfMemory) that nobody has reported yet.
Result<std::optional<CommandArgs>> parseCommandArgs(Command command, ArgIterator& args);

}  // namespace hushmark
