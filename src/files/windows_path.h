// How Windows paths are cut into their parts: either separator, drive
// roots and the roots of network shares. Pure text work, so that it is
// tested on every platform.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/error.h"
#include "base/wtf8.h"

namespace hushmark {

inline bool isWindowsSeparator(char c) {
  return c == '/' || c == '\\';
}

// The length of the root that `path` begins with: "C:\" (3; "C:" alone, 2,
// for a drive's current directory), "\\server\share\" or its "\\?\" and
// "\\.\" forms, "\" (1) for the current drive's root; 0 for a relative
// path. Either separator serves everywhere.
std::size_t windowsRootLength(std::string_view path);

// Whether `path` begins with one "/" and not two: the root of a POSIX
// system, as a git built for MSYS2 or Cygwin writes its paths ("/c/repo",
// "/cygdrive/c/repo"), which Windows would take as the current drive's.
inline bool beginsWithPosixRoot(std::string_view path) {
  return !path.empty() && path[0] == '/' && (path.size() == 1 || !isWindowsSeparator(path[1]));
}

// The directory part of `path`: everything before its last component,
// without the separators before it, but never shorter than its root (so
// "C:\file" gives "C:\"). Empty for a bare file name.
std::string_view windowsDirectoryPart(std::string_view path);

// Full paths at least this many UTF-16 units long go to the file calls in
// their "\\?\" form. The calls' classic limit is MAX_PATH (260) with the
// NUL, 12 fewer for a directory to create; the margin leaves room for the
// name of a temporary file made beside a file.
inline constexpr std::size_t longPathThreshold = 200;

// How a full path, as GetFullPathNameW gives it, is put in its "\\?\"
// form: `prefix` in place of its first `replaced` units. "\\?\" goes before
// "C:\..."; "\\?\UNC\" takes the place of the "\\" of "\\server\share\...".
// Nothing changes in a path that has a device form already ("\\?\...",
// "\\.\...") or any other shape.
struct ExtendedForm {
  std::u16string_view prefix;
  std::size_t replaced = 0;
};
ExtendedForm extendedForm(std::u16string_view fullPath);

// Windows only: appends to `out` the UTF-16 path that the file calls are
// given for `path` (WTF-8). It is the path as written unless its full form
// is `longPathThreshold` units or longer; that full form then goes in its
// "\\?\" form, so that it works past MAX_PATH whatever the system's
// long-path setting.
Status appendFileSystemPath(Utf16Text& out, std::string_view path);

}  // namespace hushmark
