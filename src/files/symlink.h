// Reading a symbolic link: the platform's primitive.
#pragma once

#include <optional>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"

namespace hushmark {

// The target of the symbolic link at `path`, as stored in the link; nullopt
// when `path` is no symbolic link (or none that the platform can read).
Result<std::optional<ByteBuffer>> readSymbolicLink(std::string_view path);

}  // namespace hushmark
