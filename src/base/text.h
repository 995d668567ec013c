// Small helpers over byte strings.
#pragma once

#include <string_view>

namespace hushmark {

// `bytes` without every leading and trailing byte that is in `set`.
inline std::string_view trimBytes(std::string_view bytes, std::string_view set) {
  std::size_t first = bytes.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  std::size_t last = bytes.find_last_not_of(set);
  return bytes.substr(first, last - first + 1);
}

// Blanks and line ends: what is trimmed from git's answers and diagnostics
// and from pattern arguments.
inline constexpr std::string_view blanksAndLineEnds = " \t\r\n";

}  // namespace hushmark
