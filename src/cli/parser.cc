#include "cli/parser.h"

#include "runtime/output.h"

namespace hushmark {

namespace {

constexpr std::string_view assignmentSeparators = "=";

bool isAssignmentSeparator(char c) {
  return assignmentSeparators.find(c) != std::string_view::npos;
}

constexpr Param topLevelTable[] = {
    {'h', "help", ValueKind::None, "help"},
    {'V', "version", ValueKind::None, "version"},
    {std::nullopt, std::nullopt, ValueKind::One, "command"},
};

constexpr Param commandTable[] = {
    {'h', "help", ValueKind::None, "help"},
    {std::nullopt, std::nullopt, ValueKind::Many, "str"},
};

constexpr Param listTable[] = {
    {'h', "help", ValueKind::None, "help"},
};

}  // namespace

const std::span<const Param> topLevelParams = topLevelTable;
const std::span<const Param> commandParams = commandTable;
const std::span<const Param> listParams = listTable;

std::unexpected<Error> ArgParser::failWith(Error error, std::string_view arg,
                                           std::optional<std::string_view> longName,
                                           std::optional<char> shortName) {
  if (diagnostic_ != nullptr) *diagnostic_ = Diagnostic{arg, longName, shortName};
  return fail(error);
}

const Param* ArgParser::positionalParam() {
  if (!positional_) {
    positional_ = nullptr;
    for (const Param& param : params_) {
      if (param.isPositional()) {
        positional_ = &param;
        break;
      }
    }
  }
  return *positional_;
}

Result<std::optional<ParsedArg>> ArgParser::next() {
  switch (state_) {
    case ParserState::RestPositional: {
      auto arg = args_.next();
      if (!arg) return std::nullopt;
      return ParsedArg{positionalParam(), *arg};
    }
    case ParserState::Chaining:
      return shortStep();
    case ParserState::Normal:
      break;
  }
  auto arg = args_.next();
  if (!arg) return std::nullopt;
  if (*arg == "--" || *arg == "-") return positional(*arg);
  if (arg->starts_with("--")) return longOption(arg->substr(2));
  if (arg->starts_with("-")) {
    cluster_ = arg->substr(1);
    index_ = 0;
    state_ = ParserState::Chaining;
    return shortStep();
  }
  return positional(*arg);
}

Result<std::optional<ParsedArg>> ArgParser::longOption(std::string_view rest) {
  std::string_view name = rest;
  std::optional<std::string_view> attached;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (isAssignmentSeparator(rest[i])) {
      name = rest.substr(0, i);
      attached = rest.substr(i + 1);
      break;
    }
  }
  for (const Param& param : params_) {
    if (!param.longName || *param.longName != name) continue;
    if (!param.takesValue()) {
      if (attached) return failWith(Error::DoesntTakeValue, rest, name, std::nullopt);
      return ParsedArg{&param, std::nullopt};
    }
    if (attached) return ParsedArg{&param, attached};
    auto value = args_.next();
    if (!value) return failWith(Error::MissingValue, rest, name, std::nullopt);
    return ParsedArg{&param, value};
  }
  return failWith(Error::InvalidArgument, rest, name, std::nullopt);
}

Result<std::optional<ParsedArg>> ArgParser::shortStep() {
  char name = cluster_[index_];
  const Param* found = nullptr;
  for (const Param& param : params_) {
    if (param.shortName && *param.shortName == name) {
      found = &param;
      break;
    }
  }
  if (found == nullptr) {
    state_ = ParserState::Normal;
    return failWith(Error::InvalidArgument, cluster_, std::nullopt, name);
  }
  std::size_t next = index_ + 1;
  if (next == cluster_.size()) {
    state_ = ParserState::Normal;
    if (!found->takesValue()) return ParsedArg{found, std::nullopt};
    auto value = args_.next();
    if (!value) return failWith(Error::MissingValue, cluster_, std::nullopt, name);
    return ParsedArg{found, value};
  }
  if (found->takesValue()) {
    state_ = ParserState::Normal;
    std::size_t from = isAssignmentSeparator(cluster_[next]) ? next + 1 : next;
    return ParsedArg{found, cluster_.substr(from)};
  }
  index_ = next;
  if (isAssignmentSeparator(cluster_[next])) {
    return failWith(Error::DoesntTakeValue, cluster_, std::nullopt, name);
  }
  return ParsedArg{found, std::nullopt};
}

Result<std::optional<ParsedArg>> ArgParser::positional(std::string_view arg) {
  const Param* param = positionalParam();
  if (param == nullptr) return failWith(Error::InvalidArgument, arg, std::nullopt, std::nullopt);
  if (arg == "--") {
    state_ = ParserState::RestPositional;
    auto value = args_.next();
    if (!value) return std::nullopt;
    return ParsedArg{param, *value};
  }
  return ParsedArg{param, arg};
}

Status reportParseError(const Diagnostic& diagnostic, Error error, NativeFile file) {
  char storage[1024];
  BufferedWriter writer(file, storage, sizeof storage);
  auto writeShownName = [&] {
    if (diagnostic.longName) {
      writer.write("--");
      writer.write(*diagnostic.longName);
    } else if (diagnostic.shortName) {
      writer.write("-");
      writer.write(std::string_view(&*diagnostic.shortName, 1));
    } else {
      writer.write(diagnostic.arg);
    }
  };
  switch (error) {
    case Error::DoesntTakeValue:
      writer.write("The argument '");
      writeShownName();
      writer.write("' does not take a value\n");
      break;
    case Error::MissingValue:
      writer.write("The argument '");
      writeShownName();
      writer.write("' requires a value but none was supplied\n");
      break;
    case Error::InvalidArgument:
      writer.write("Invalid argument '");
      writeShownName();
      writer.write("'\n");
      break;
    default:
      writer.write("Error while parsing arguments: ");
      writer.write(errorName(error));
      writer.write("\n");
      break;
  }
  return writer.flush();
}

}  // namespace hushmark
