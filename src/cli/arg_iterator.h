// The process's arguments, handed out one at a time, the program's own name
// first. One iterator serves the whole run: the top-level parse and the
// command's parse take from it in turn, and the strings it yields stay valid
// for the whole run.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace hushmark {

class ArgIterator {
 public:
  // `args` are NUL-terminated UTF-8 (on Windows, WTF-8) strings owned by the
  // start-up code for the whole run.
  explicit ArgIterator(std::span<char* const> args) : args_(args) {}

  std::optional<std::string_view> next();

 private:
  std::span<char* const> args_;
  std::size_t position_ = 0;
};

}  // namespace hushmark
