// A small table-driven command-line parser that hands out one recognised
// argument at a time. Short names cluster ("-hV"), "=" attaches a value
// ("--name=value", "-n=value"), and "--" makes every later argument a
// positional value.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "base/error.h"
#include "base/native_file.h"
#include "cli/arg_iterator.h"

namespace hushmark {

enum class ValueKind : unsigned char { None, One, Many };

struct Param {
  std::optional<char> shortName;
  std::optional<std::string_view> longName;
  ValueKind value = ValueKind::None;
  // The parameter's own name, by which callers tell results apart.
  std::string_view name;

  bool isPositional() const { return !shortName && !longName; }
  bool takesValue() const { return value != ValueKind::None; }
};

extern const std::span<const Param> topLevelParams;
extern const std::span<const Param> commandParams;
extern const std::span<const Param> listParams;

// Details of the argument that made the parser fail.
struct Diagnostic {
  std::string_view arg;
  std::optional<std::string_view> longName;
  std::optional<char> shortName;
};

struct ParsedArg {
  const Param* param = nullptr;
  // A view into the argument strings, never a copy.
  std::optional<std::string_view> value;
};

class ArgParser {
 public:
  ArgParser(std::span<const Param> params, ArgIterator& args, Diagnostic* diagnostic)
      : params_(params), args_(args), diagnostic_(diagnostic) {}

  // The next recognised argument, or nullopt at the end of the arguments, or
  // InvalidArgument, MissingValue or DoesntTakeValue with the diagnostic
  // filled in. After an error the caller stops.
  Result<std::optional<ParsedArg>> next();

  // The table's positional parameter, or null when it has none.
  const Param* positionalParam();

 private:
  enum class ParserState : unsigned char { Normal, Chaining, RestPositional };

  Result<std::optional<ParsedArg>> longOption(std::string_view rest);
  Result<std::optional<ParsedArg>> shortStep();
  Result<std::optional<ParsedArg>> positional(std::string_view arg);
  std::unexpected<Error> failWith(Error error, std::string_view arg,
                                  std::optional<std::string_view> longName,
                                  std::optional<char> shortName);

  std::span<const Param> params_;
  ArgIterator& args_;
  Diagnostic* diagnostic_;
  ParserState state_ = ParserState::Normal;
  std::string_view cluster_;
  std::size_t index_ = 0;
  std::optional<const Param*> positional_;
};

// Writes the one-line message for a parse error to `file` through a 1024-byte
// buffer; returns the write's error.
Status reportParseError(const Diagnostic& diagnostic, Error error, NativeFile file);

}  // namespace hushmark
