#include "exclude/exclude_file.h"

#include <cstring>

#include "base/bytes.h"
#include "files/file_paths.h"

namespace hushmark {

namespace {

constexpr std::size_t readChunk = std::size_t{64} * 1024;
constexpr std::size_t scanChunk = std::size_t{256} * 1024;

// The file's size as the platform knows it; a size already too large fails
// before any read.
Result<std::uint64_t> checkSize(const File& file) {
  std::uint64_t size = sizeHint(file);
  if (size >= maxExcludeFileSize) return fail(Error::StreamTooLong);
  return size;
}

// Whether a CR LF pair stands in `bytes`; a CR is rare, so the search
// skips from CR to CR.
bool hasCrBeforeLineFeed(std::string_view bytes) {
  const char* from = bytes.data();
  const char* end = bytes.data() + bytes.size();
  while (from < end) {
    const char* cr =
        static_cast<const char*>(std::memchr(from, '\r', static_cast<std::size_t>(end - from)));
    if (cr == nullptr || cr + 1 >= end) return false;
    if (cr[1] == '\n') return true;
    from = cr + 1;
  }
  return false;
}

}  // namespace

Result<std::optional<File>> openExcludeFile(std::string_view path) {
  auto file = openForReading(path);
  if (!file) {
    if (file.error() == Error::FileNotFound) return std::nullopt;
    return fail(file.error());
  }
  return std::optional<File>(std::move(*file));
}

Result<ByteBuffer> readExcludeFile(std::string_view path) {
  auto file = openExcludeFile(path);
  if (!file) return fail(file.error());
  if (!*file) return ByteBuffer();
  return readExcludeFile(**file);
}

Result<ByteBuffer> readExcludeFile(const File& file) {
  auto size = checkSize(file);
  if (!size) return fail(size.error());
  ByteBuffer content;
  // One allocation for an ordinary file: its size and one byte to see the
  // end. A file that grows meanwhile simply makes the buffer grow.
  std::size_t allowance = maxExcludeFileSize;
  if (auto reserved = content.reserveExtra(static_cast<std::size_t>(*size) + 1); !reserved) {
    return fail(reserved.error());
  }
  while (allowance > 0) {
    if (content.spareSize() == 0) {
      std::size_t more = allowance < readChunk ? allowance : readChunk;
      if (auto reserved = content.reserveExtra(more); !reserved) return fail(reserved.error());
    }
    std::size_t room = content.spareSize() < allowance ? content.spareSize() : allowance;
    auto got = readSome(file, content.spare(), room);
    if (!got) return fail(got.error());
    if (*got == 0) {
      if (auto kept = content.shrinkToFit(); !kept) return fail(kept.error());
      return content;
    }
    content.commit(*got);
    allowance -= *got;
  }
  return fail(Error::StreamTooLong);
}

Result<ExcludeFileScan> scanExcludeFile(const File& file,
                                        FunctionRef<bool(std::string_view)> visit) {
  if (auto fits = checkSize(file); !fits) return fail(fits.error());
  ExcludeFileScan result;
  ByteBuffer buffer;
  if (auto reserved = buffer.reserveExtra(scanChunk); !reserved) return fail(reserved.error());
  std::size_t allowance = maxExcludeFileSize;
  bool crBeforeLineFeed = false;
  char lastByte = '\n';
  for (;;) {
    if (buffer.spareSize() == 0) {
      // A line longer than the buffer: make room for more of it.
      if (auto reserved = buffer.reserveExtra(buffer.size()); !reserved) {
        return fail(reserved.error());
      }
    }
    std::size_t room = buffer.spareSize() < allowance ? buffer.spareSize() : allowance;
    auto got = readSome(file, buffer.spare(), room);
    if (!got) return fail(got.error());
    if (*got == 0) {
      // The last line, without its LF, if there is one.
      result.complete = buffer.empty() || visit(buffer.view());
      result.writtenForm = result.complete && lastByte == '\n' && !crBeforeLineFeed;
      return result;
    }
    std::size_t held = buffer.size();
    buffer.commit(*got);
    result.size += *got;
    allowance -= *got;
    if (allowance == 0) return fail(Error::StreamTooLong);
    lastByte = buffer.view().back();

    // What was held before this read has no LF (it is the start of a line),
    // so only the new bytes are searched.
    std::size_t lastLineFeed = findLastByte(buffer.view().substr(held), '\n');
    if (lastLineFeed == notFound) continue;
    std::size_t whole = held + lastLineFeed + 1;
    std::string_view lines = buffer.view().substr(0, whole);
    // Whole lines only, so a CR LF pair never straddles two pieces.
    if (!crBeforeLineFeed) crBeforeLineFeed = hasCrBeforeLineFeed(lines);
    if (!visit(lines)) return result;
    buffer.dropFront(whole);
  }
}

Result<ReadFile> whatWasRead(const std::optional<File>& file, bool directoryLocked) {
  ReadFile read{.identity = std::nullopt, .directoryLocked = directoryLocked};
  if (file) {
    auto status = statusOf(*file);
    if (!status) return fail(status.error());
    read.identity = status->identity;
  }
  return read;
}

Status writeExcludeFile(std::string_view path, const ReadFile& read,
                        std::span<const FileRange> kept, std::span<const std::string_view> pieces) {
  // Content this long could not be read back: refused, the file untouched.
  std::uint64_t size = 0;
  for (const FileRange& range : kept) size += range.length;
  for (std::string_view piece : pieces) size += piece.size();
  if (size >= maxExcludeFileSize) return fail(Error::StreamTooLong);
  if (auto made = createDirectories(directoryPart(path)); !made) return made;
  return replaceFile(path, read, kept, pieces);
}

}  // namespace hushmark
