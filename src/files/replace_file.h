// Replacing a file's content as one step, the same way on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/error.h"
#include "files/file.h"

namespace hushmark {

// A stretch of an open file: `length` bytes from `offset` on.
struct FileRange {
  const File& file;
  std::uint64_t offset;
  std::uint64_t length;
};

// What the caller read before it decided on the new content.
struct ReadFile {
  // The file that was read; nullopt when none was there.
  std::optional<FileIdentity> identity;
  // Whether the caller holds the lock of the file's directory, which every
  // writer takes before it makes a temporary file there: then the temporary
  // file has one fixed name, and what a killed run left under it goes.
  bool directoryLocked = false;
};

// Replaces the content of the file at `path` (links already followed) with
// the bytes of the `kept` ranges, in order (copied by the system without
// passing through this program where it can), followed by the
// concatenation of `pieces`. A failure leaves the old content intact.
//
// Only the file that was read is replaced: FileReplaced, and nothing
// written, when the name no longer leads to it (a symbolic link, another
// file or a directory put in its place, a file made where none was), which
// is checked once more just before the new content takes its place. The
// caller then reads the file again and redoes its edit.
//
// Normally the content goes to a new file in the same directory, which then
// takes the file's place in one step: a reader sees either the old or the
// new content. The new file is open to its owner alone until it has the
// old file's owner, group, access control lists, extended attributes,
// permission bits and inode flags, in that order, given just before the
// rename, so that a change made meanwhile is kept; a file that did not
// exist gets the platform's defaults. Where a new file would not be the
// same file to everyone, the file is written in place instead: when it has
// other hard links, when it is mounted on its name or on another, when its
// protection cannot be given to a new file exactly, when the directory
// takes no new file, keeps every name made in it, or the temporary name is
// too long, and when the rename is refused (a sticky directory).
//
// In place, a reader (and a process killed at any point) sees the old or
// the new patterns: content that only grows the file (`kept` is the whole
// of this file) is first appended as one comment line (its line feeds but
// the last written as NULs), which then becomes the new lines with one
// more write over it; other content is written over the old from the
// first byte that differs, followed by line feeds up to the old length,
// and only then is the file cut to its new length. A write that fails is
// undone. A file that does not exist yet is first made, empty, where it
// belongs, and then replaced as above. A device is always written to as a
// stream; a FIFO or a socket is refused (UnsupportedFileType).
Status replaceFile(std::string_view path, const ReadFile& read, std::span<const FileRange> kept,
                   std::span<const std::string_view> pieces);

}  // namespace hushmark
