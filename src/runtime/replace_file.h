// Replacing a file's content as one step, the same way on every platform.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/error.h"
#include "runtime/file.h"

namespace hushmark {

// A stretch of an open file: `length` bytes from `offset` on.
struct FileRange {
  const File& file;
  std::uint64_t offset;
  std::uint64_t length;
};

// Replaces the content of the file at `path` with the bytes of the `kept`
// ranges, in order (copied by the system without passing through this
// program where it can), followed by the concatenation of `pieces`. A
// failure leaves the old content intact. When `path` is a symbolic link,
// the link stays and the file it finally names is written (and created
// when missing).
//
// Normally the content goes to a new file in the same directory, which then
// takes the file's place in one step: a reader sees either the old or the
// new content. The new file is open to its owner alone until it has the
// old file's owner, group, access control lists, extended attributes and
// permission bits, in that order; a file that did not exist gets the
// platform's defaults. Where a new file would not be the same file to
// everyone, the file is written in place instead: when it has other hard
// links, when its protection cannot be given to a new file exactly, when
// the directory takes no new file or the temporary name is too long, and
// when the rename is refused (a bind mount, a sticky directory). In place,
// content that only grows the file (`kept` is the whole of this file) is
// appended with one write, cut off again if that write fails; any other
// content is written over the old, which is written back if the new cannot
// be written whole. A file that does not exist yet is first made, empty,
// where it belongs, and then replaced as above. A device is always written
// to as a stream; a FIFO or a socket is refused (UnsupportedFileType).
Status replaceFile(std::string_view path, std::span<const FileRange> kept,
                   std::span<const std::string_view> pieces);

}  // namespace hushmark
