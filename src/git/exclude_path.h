// Where the repository's private exclude file lives, as Git says.
#pragma once

#include "runtime/buffer.h"
#include "runtime/error.h"

namespace hushmark {

// The path that "git rev-parse --git-path info/exclude" prints, trimmed of
// blanks and line ends at both ends and otherwise unchanged: relative paths
// stay relative to the current directory. GitCommandFailed when git fails or
// its answer is empty (the error line has been written).
Result<ByteBuffer> excludeFilePath();

}  // namespace hushmark
