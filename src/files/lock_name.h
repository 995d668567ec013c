// The name of the named mutex that locks a file or directory on Windows:
// made of the object's identity, so that every name of it reaches the same
// mutex. Pure text work, so that it is tested on every platform.
#pragma once

#include <cstddef>
#include <string_view>

#include "files/file.h"

namespace hushmark {

class LockName {
 public:
  // `space` is the namespace's prefix ("Global\" or "Local\"); then come
  // "hushmark-lock-" and the volume, the high and the low half of the
  // file's number, 16 hexadecimal digits each.
  LockName(std::u16string_view space, const FileIdentity& identity);
  // NUL-terminated.
  const char16_t* get() const { return text_; }
  std::u16string_view view() const { return {text_, size_}; }

 private:
  static constexpr std::size_t capacity = 7 + 14 + 3 * 16 + 1;
  char16_t text_[capacity]{};
  std::size_t size_ = 0;
};

}  // namespace hushmark
