// How Windows paths are cut into their parts: either separator, drive
// roots and the roots of network shares. Pure text work, so that it is
// tested on every platform.
#pragma once

#include <cstddef>
#include <string_view>

namespace hushmark {

inline bool isWindowsSeparator(char c) {
  return c == '/' || c == '\\';
}

// The length of the root that `path` begins with: "C:\" (3; "C:" alone, 2,
// for a drive's current directory), "\\server\share\" or its "\\?\" and
// "\\.\" forms, "\" (1) for the current drive's root; 0 for a relative
// path. Either separator serves everywhere.
std::size_t windowsRootLength(std::string_view path);

// The directory part of `path`: everything before its last component,
// without the separators before it, but never shorter than its root (so
// "C:\file" gives "C:\"). Empty for a bare file name.
std::string_view windowsDirectoryPart(std::string_view path);

}  // namespace hushmark
