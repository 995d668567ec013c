// Where a command given by bare name is looked for: every non-empty entry
// of PATH, as written, in order. An empty entry (a leading, trailing or
// doubled separator, or an empty PATH) is skipped: the system's own search
// takes it as the current directory, and running a program from there would
// run whatever a repository's author put at its top. "." is searched only
// where PATH names it. On Windows each directory is tried with every
// extension of PATHEXT that CreateProcessW can start. Written over any
// character type, so that the order is tested where it is not used.
#pragma once

#include <string>
#include <string_view>

#include "base/function_ref.h"

namespace hushmark {

// How a platform writes its search path and its program names.
struct SearchSyntax {
  // Between PATH's entries: ':' on POSIX systems, ';' on Windows.
  char separator;
  // Put between a directory and the name when the directory does not end
  // in one.
  char directorySeparator;
  // Windows: an entry may stand in double quotes, and candidates carry the
  // extensions of PATHEXT.
  bool windows;
};

inline constexpr SearchSyntax posixSearch{':', '/', false};
inline constexpr SearchSyntax windowsSearch{';', '\\', true};

// The extensions tried when PATHEXT is unset or names none that can run.
inline constexpr std::string_view defaultProgramExtensions = ".COM;.EXE;.BAT;.CMD";

// Whether CreateProcessW can start a file with this extension, itself or
// through cmd.exe: PATHEXT also names scripts (.VBS, .JS, .MSC) that it
// cannot, and the search goes on past them.
template <typename Char>
bool startableExtension(std::basic_string_view<Char> extension) {
  if (extension.size() != 4) return false;
  std::string folded;
  for (Char c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<Char>(c - 'A' + 'a');
    if (static_cast<unsigned long>(c) >= 0x80) return false;
    folded.push_back(static_cast<char>(c));
  }
  return folded == ".com" || folded == ".exe" || folded == ".bat" || folded == ".cmd";
}

// Calls `body` with each non-empty entry of `list`, cut at `separator`
// (and, with `unquote`, without surrounding double quotes), until it
// returns true; returns whether one did.
template <typename Char, typename Body>
bool forEachListEntry(std::basic_string_view<Char> list, char separator, bool unquote,
                      Body&& body) {
  using View = std::basic_string_view<Char>;
  while (!list.empty()) {
    std::size_t end = list.find(static_cast<Char>(separator));
    View entry = list.substr(0, end);
    list = end == View::npos ? View() : list.substr(end + 1);
    if (unquote && entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
      entry = entry.substr(1, entry.size() - 2);
    }
    if (!entry.empty() && body(entry)) return true;
  }
  return false;
}

// Calls `visit` with each candidate path for `name`, in that order, until
// it returns true; returns whether one did. `extensions` is PATHEXT (not
// used on POSIX systems). Throws std::bad_alloc like the string.
template <typename Char>
bool searchProgram(SearchSyntax syntax, std::basic_string_view<Char> name,
                   std::basic_string_view<Char> path, std::basic_string_view<Char> extensions,
                   FunctionRef<bool(const std::basic_string<Char>&)> visit) {
  using View = std::basic_string_view<Char>;
  std::basic_string<Char> fallback;
  if (!syntax.windows) {
    extensions = View();
  } else if (!forEachListEntry(extensions, ';', false,
                               [](View extension) { return startableExtension(extension); })) {
    for (char c : defaultProgramExtensions) fallback.push_back(static_cast<Char>(c));
    extensions = fallback;
  }
  std::basic_string<Char> candidate;
  auto tryName = [&](View directory, View extension) {
    candidate.clear();
    candidate.append(directory);
    if (candidate.back() != static_cast<Char>(syntax.directorySeparator) &&
        !(syntax.windows && candidate.back() == '/')) {
      candidate.push_back(static_cast<Char>(syntax.directorySeparator));
    }
    candidate.append(name);
    candidate.append(extension);
    return visit(candidate);
  };
  return forEachListEntry(path, syntax.separator, syntax.windows, [&](View directory) {
    if (!syntax.windows) return tryName(directory, View());
    return forEachListEntry(extensions, ';', false, [&](View extension) {
      return startableExtension(extension) && tryName(directory, extension);
    });
  });
}

}  // namespace hushmark
