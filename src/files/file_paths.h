// Path work over the file primitives, the same on every platform.
#pragma once

#include <string_view>

#include "base/buffer.h"
#include "base/error.h"

namespace hushmark {

// Creates every missing directory of `directory`, outermost first. NotDir
// when a component exists but is not a directory.
Status createDirectories(std::string_view directory);

// Follows symbolic links until the path names something that is not one
// (or nothing at all): the file that a write to `path` finally reaches. A
// relative link is taken from the directory of the link.
Result<ByteBuffer> resolveSymbolicLinks(std::string_view path);

}  // namespace hushmark
