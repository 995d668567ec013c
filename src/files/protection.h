// Who may do what with a file, and giving that to a new file: the
// platform's primitives.
#pragma once

#include <string_view>

#include "base/error.h"
#include "files/file.h"

namespace hushmark {

// Whether a new file can be given another file's protection exactly (its
// owner, group, permissions, access control lists and every other
// attribute that decides who may do what), so that renaming it into that
// file's place changes nothing for anybody.
bool newFileCanTakeProtection();

// Gives `to` the protection of the file at `from`, as far as the system
// lets this user: owner and group, then access control lists and other
// extended attributes, then the permission bits, then the inode flags
// that a user may set (no dump, no access time and the like). What cannot be given is
// left as it is; sameProtection tells whether all of it was.
Status copyProtection(std::string_view from, const File& to);
Result<bool> sameProtection(std::string_view a, const File& b);

// Whether the file at `path` is reached through a mount of its own: it is
// a mount point (its mount differs from its directory's, as with a bind
// mount on its name), or it is mounted on another name as well. A new file
// renamed into its place would not be the file that other name shows.
Result<bool> isMountedFile(std::string_view path);

// Whether the directory keeps every name made in it (append-only or
// immutable): a temporary file made there could never be removed again.
Result<bool> directoryKeepsNames(std::string_view directory);

// Whether this user may write to the file itself (its own protection; the
// directory's does not count).
Status checkWritable(std::string_view path);

}  // namespace hushmark
