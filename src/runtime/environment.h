// The process environment, copied once at start-up into one table that the
// runtime consults (the colour rules read NO_COLOR and CLICOLOR_FORCE).
#pragma once

#include <optional>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"

namespace hushmark {

class Environment {
 public:
  Environment() = default;
  // `entries` holds "NAME=value" entries, each ended by one NUL byte.
  explicit Environment(ByteBuffer entries) : entries_(std::move(entries)) {}

  // Copies the environment of this process.
  static Result<Environment> capture();

  // Builds an entry table from "NAME=value" strings; for callers that make
  // an environment of their own, such as tests.
  static Result<Environment> fromEntries(std::initializer_list<std::string_view> entries);

  // The value of the variable whose name equals `name` byte for byte.
  std::optional<std::string_view> get(std::string_view name) const;
  // Whether a variable's name equals `name` when ASCII case is ignored.
  bool hasIgnoringCase(std::string_view name) const;
  // Whether a variable named `name` is set, its name compared the way the
  // system compares names: without regard to case where names ignore it.
  bool has(std::string_view name) const {
    return namesIgnoreCase ? hasIgnoringCase(name) : get(name).has_value();
  }

  // Whether the system treats names that differ only in case as one
  // (Windows does).
  static const bool namesIgnoreCase;

 private:
  template <typename Match>
  std::optional<std::string_view> find(Match match) const;
  // Appends one "NAME=value" entry and its NUL to a table.
  static Status appendEntry(ByteBuffer& table, std::string_view entry);

  ByteBuffer entries_;
};

// The table that start-up captured; empty until then.
const Environment& processEnvironment();
void setProcessEnvironment(Environment environment);

}  // namespace hushmark
