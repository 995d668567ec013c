// Where the repository's private exclude file lives, as Git says.
#pragma once

#include "base/buffer.h"
#include "base/error.h"

namespace hushmark {

// The path that "git rev-parse --git-path info/exclude" prints, less the
// CRs and LFs at its end and otherwise unchanged (blanks at either end
// belong to the path): relative paths stay relative to the current
// directory. GitCommandFailed when git fails, when its answer is empty or
// blank, or when it holds a NUL byte or an inner line end (the error line
// has been written).
Result<ByteBuffer> excludeFilePath();

}  // namespace hushmark
