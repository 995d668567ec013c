// Where a command given by bare name is looked for on Windows: every
// directory of PATH, in each of them the name with every extension of
// PATHEXT in turn. The current directory is not searched unless PATH names
// it: running a program from there would run whatever a repository's
// author put at its top. Written over any character type, so that the
// order is tested where it is not used.
#pragma once

#include <string>
#include <string_view>

#include "runtime/function_ref.h"

namespace hushmark {

// The extensions tried when PATHEXT is unset or empty.
inline constexpr std::string_view defaultProgramExtensions = ".COM;.EXE;.BAT;.CMD";

// Calls `visit` with each candidate path for `name`, in that order, until
// it returns true; returns whether one did. PATH's entries are separated by
// ';', empty ones skipped and surrounding double quotes removed; each is
// otherwise taken as written, a relative one (".") included. Throws
// std::bad_alloc like the string.
template <typename Char>
bool searchProgram(std::basic_string_view<Char> name, std::basic_string_view<Char> path,
                   std::basic_string_view<Char> extensions,
                   FunctionRef<bool(const std::basic_string<Char>&)> visit) {
  using View = std::basic_string_view<Char>;
  std::basic_string<Char> fallback;
  if (extensions.find_first_not_of(static_cast<Char>(';')) == View::npos) {
    for (char c : defaultProgramExtensions) fallback.push_back(static_cast<Char>(c));
    extensions = fallback;
  }
  auto forEachEntry = [](View list, auto&& body) {
    while (!list.empty()) {
      std::size_t end = list.find(static_cast<Char>(';'));
      View entry = list.substr(0, end);
      list = end == View::npos ? View() : list.substr(end + 1);
      if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
        entry = entry.substr(1, entry.size() - 2);
      }
      if (!entry.empty() && body(entry)) return true;
    }
    return false;
  };
  std::basic_string<Char> candidate;
  auto tryDirectory = [&](View directory) {
    return forEachEntry(extensions, [&](View extension) {
      candidate.clear();
      candidate.append(directory);
      if (!candidate.empty() && candidate.back() != '\\' && candidate.back() != '/') {
        candidate.push_back(static_cast<Char>('\\'));
      }
      candidate.append(name);
      candidate.append(extension);
      return visit(candidate);
    });
  };
  return forEachEntry(path, tryDirectory);
}

}  // namespace hushmark
