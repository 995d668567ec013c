// Reading and rewriting the exclude file.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "runtime/buffer.h"
#include "runtime/error.h"

namespace hushmark {

// Reading stops with StreamTooLong once this many bytes have been read, so
// the largest file accepted is one byte smaller.
inline constexpr std::size_t maxExcludeFileSize = 16 * 1024 * 1024;

// The whole file, exactly as stored. A missing file, or a missing directory
// on the way to it, reads as empty content.
Result<ByteBuffer> readExcludeFile(std::string_view path);

// Creates every missing directory of the path, then replaces the file's
// content with the concatenation of `pieces` in one step: a failure leaves
// the old content intact, and a reader never sees a half-written file.
Status writeExcludeFile(std::string_view path, std::span<const std::string_view> pieces);

}  // namespace hushmark
