#include "exclude/exclude_file.h"

#include "runtime/file.h"

namespace hushmark {

namespace {

constexpr std::size_t readChunk = 64 * 1024;

}  // namespace

Result<ByteBuffer> readExcludeFile(std::string_view path) {
  auto file = openForReading(path);
  if (!file) {
    if (file.error() == Error::FileNotFound) return ByteBuffer();
    return fail(file.error());
  }
  ByteBuffer content;
  // One allocation for an ordinary file: its size and one byte to see the
  // end. A file that grows meanwhile simply makes the buffer grow.
  std::uint64_t hint = sizeHint(*file);
  std::size_t allowance = maxExcludeFileSize;
  std::size_t first = hint < allowance ? static_cast<std::size_t>(hint) + 1 : allowance;
  if (auto reserved = content.reserveExtra(first); !reserved) return fail(reserved.error());
  while (allowance > 0) {
    if (content.spareSize() == 0) {
      std::size_t more = allowance < readChunk ? allowance : readChunk;
      if (auto reserved = content.reserveExtra(more); !reserved) return fail(reserved.error());
    }
    std::size_t room = content.spareSize() < allowance ? content.spareSize() : allowance;
    auto got = readSome(*file, content.spare(), room);
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

Status writeExcludeFile(std::string_view path, std::span<const std::string_view> pieces) {
  if (auto made = createDirectories(directoryPart(path)); !made) return made;
  return replaceFile(path, pieces);
}

}  // namespace hushmark
