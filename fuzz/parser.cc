// The argument parser over arbitrary argument vectors (the input's NUL-
// separated words): the top level and then the command, as the front end
// parses them. Nothing may crash, and every outcome must be one the front
// end handles. Run with -close_fd_mask=3: usage texts and diagnostics then
// fail to write, which is one of those outcomes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/arg_iterator.h"
#include "cli/command.h"
#include "cli/parser.h"

namespace {

using namespace hushmark;

bool isParseError(Error error) {
  return error == Error::InvalidArgument || error == Error::MissingValue ||
         error == Error::DoesntTakeValue;
}

// A failed write of a usage text or diagnostic: the streams may be closed.
bool isWriteError(Error error) {
  return error == Error::NotOpenForWriting || error == Error::BrokenPipe;
}

void check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1, "hushmark");
  std::string word;
  for (std::size_t i = 0; i < size && words.size() < 32; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (!word.empty()) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& each : words) argv.push_back(each.data());

  ArgIterator args(argv);
  (void)args.next();
  Diagnostic diagnostic;
  ArgParser top(topLevelParams, args, &diagnostic);
  for (;;) {
    auto parsed = top.next();
    if (!parsed) {
      check(isParseError(parsed.error()));
      return 0;
    }
    if (!*parsed) return 0;
    const ParsedArg& arg = **parsed;
    check(arg.param != nullptr);
    if (!arg.param->isPositional()) {
      check(arg.param->name == "help" || arg.param->name == "version");
      continue;
    }
    check(arg.value.has_value());
    auto command = lookupCommand(*arg.value);
    if (!command) {
      check(command.error() == Error::NameNotPartOfEnum);
      return 0;
    }
    check(commandName(*command) == *arg.value);
    auto commandArgs = parseCommandArgs(*command, args);
    if (!commandArgs) {
      Error error = commandArgs.error();
      check(error == Error::InvalidUsage || isWriteError(error));
      return 0;
    }
    if (*commandArgs) {
      const auto& values = (*commandArgs)->values;
      check(*command == Command::List ? values.empty() : !values.empty());
      // Values are views into the argument strings, never copies.
      for (std::string_view value : values) {
        bool inside = false;
        for (char* each : argv) {
          inside = inside || (value.data() >= each &&
                              value.data() <= each + std::char_traits<char>::length(each));
        }
        check(inside);
      }
    }
    return 0;
  }
}
