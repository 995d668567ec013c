// Reading and rewriting the exclude file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"
#include "base/function_ref.h"
#include "files/file.h"
#include "files/replace_file.h"

namespace hushmark {

// Reading stops with StreamTooLong once this many bytes have been read, so
// the largest file accepted is one byte smaller.
inline constexpr std::size_t maxExcludeFileSize = 16 * 1024 * 1024;

// The whole file, exactly as stored. A missing file, or a missing directory
// on the way to it, reads as empty content.
Result<ByteBuffer> readExcludeFile(std::string_view path);

// The whole of an open file, exactly as stored, from its start.
Result<ByteBuffer> readExcludeFile(const File& file);

// Opens the file for a scan; nullopt when it, or a directory on the way to
// it, is missing.
Result<std::optional<File>> openExcludeFile(std::string_view path);

// What a scan found out about the file.
struct ExcludeFileScan {
  // The bytes read.
  std::uint64_t size = 0;
  // Read to its end (the visitor never asked to stop).
  bool complete = false;
  // Known only when complete: every line already ends with exactly one LF
  // and none with CR, so the file is its own written form.
  bool writtenForm = false;
};

// Reads the file from its start and hands its content to `visit` in pieces
// of whole lines (only the file's last piece may lack its LF), with the
// same size limit as readExcludeFile. Stops early when `visit` returns
// false. Only a small buffer is held, however large the file.
Result<ExcludeFileScan> scanExcludeFile(const File& file,
                                        FunctionRef<bool(std::string_view)> visit);

// What a writer tells the rewrite of the file it read (none when no file
// was there), and whether it holds the directory's lock.
Result<ReadFile> whatWasRead(const std::optional<File>& file, bool directoryLocked);

// Creates every missing directory of the path, then replaces the file's
// content with the `kept` ranges of the old file, copied as they are,
// followed by the concatenation of `pieces`, in one step: a failure leaves
// the old content intact, and a reader never sees a half-written file.
// StreamTooLong, and nothing done, when the new content would be too long
// to be read back (maxExcludeFileSize bytes or more).
// FileReplaced when the file at the path is no longer the one `read` names.
Status writeExcludeFile(std::string_view path, const ReadFile& read,
                        std::span<const FileRange> kept, std::span<const std::string_view> pieces);

}  // namespace hushmark
