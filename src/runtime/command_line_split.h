// The process's arguments on Windows, where a process receives one UTF-16
// command line: split into words by the C runtime's rules and converted to
// WTF-8, all in one allocation.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"

namespace hushmark {

class CommandLineArgs {
 public:
  // Splits `line` the way the C runtime does for `main`:
  // - the program's name runs to the first blank (space or tab) outside
  //   double quotes; its quotes are dropped and backslashes are plain;
  // - then words are separated by blanks outside double quotes, and a
  //   double quote starts or ends a quoted part of a word;
  // - 2n backslashes before a double quote become n backslashes and the
  //   quote acts as above; 2n+1 become n backslashes and a literal quote;
  //   backslashes before anything else are plain;
  // - inside a quoted part, two double quotes are one literal quote and the
  //   part goes on;
  // - a quoted part left open runs to the end of the line.
  // OutOfMemory when the one buffer cannot be had.
  static Result<CommandLineArgs> split(std::u16string_view line);

  // NUL-terminated WTF-8 words, the program's name first.
  std::span<char* const> args() const {
    return {reinterpret_cast<char* const*>(block_.data()), count_};
  }

 private:
  // The word pointers, then the words with their NULs.
  ByteBuffer block_;
  std::size_t count_ = 0;
};

}  // namespace hushmark
