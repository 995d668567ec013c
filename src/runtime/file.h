// The platform's file operations that the exclude file needs: reading,
// creating directories, locking a directory, and replacing a file's content
// as one step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "runtime/buffer.h"
#include "runtime/error.h"
#include "runtime/native_file.h"

namespace hushmark {

// An open file, closed when the object goes. A failure to close is not
// reported.
class File {
 public:
  File() = default;
  explicit File(NativeFile handle) : handle_(handle), open_(true) {}
  ~File() {
    if (open_) close(handle_);
  }
  File(File&& other) noexcept : handle_(other.handle_), open_(std::exchange(other.open_, false)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      if (open_) close(handle_);
      handle_ = other.handle_;
      open_ = std::exchange(other.open_, false);
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  NativeFile handle() const { return handle_; }
  // Hands the handle over to the caller, who closes it.
  NativeFile release() {
    open_ = false;
    return handle_;
  }

 private:
  // Closes the handle; each platform's own.
  static void close(NativeFile handle);

  NativeFile handle_{};
  bool open_ = false;
};

// Opens an existing file that is not a directory for reading, relative to
// the current directory, without a lock and without waiting. IsDir when the
// path names a directory; UnsupportedFileType for a FIFO or a socket;
// FileNotFound when it or a directory on the way is missing.
Result<File> openForReading(std::string_view path);

// The file's size as far as the platform knows it; 0 when it cannot tell.
std::uint64_t sizeHint(const File& file);

// Reads at most `capacity` bytes; 0 at the end of the file.
Result<std::size_t> readSome(const File& file, char* into, std::size_t capacity);

// The directory part of `path`: everything before its last component,
// without the separator (but "/" stays for a file in the root). Empty for a
// bare file name.
std::string_view directoryPart(std::string_view path);

// Creates every missing directory of `directory`, outermost first. NotDir
// when a component exists but is not a directory.
Status createDirectories(std::string_view directory);

// An exclusive advisory lock on a directory, held until the object goes and
// dropped by the system when the process ends, however it ends. An empty
// one stands for a directory on which no lock can be had (its file system
// offers none, or it may not be read); the work then goes on unlocked.
class DirectoryLock {
 public:
  DirectoryLock() = default;
  explicit DirectoryLock(NativeFile handle) : handle_(handle), held_(true) {}
  ~DirectoryLock() {
    if (held_) unlock(handle_);
  }
  DirectoryLock(DirectoryLock&& other) noexcept
      : handle_(other.handle_), held_(std::exchange(other.held_, false)) {}
  DirectoryLock& operator=(DirectoryLock&& other) noexcept {
    if (this != &other) {
      if (held_) unlock(handle_);
      handle_ = other.handle_;
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  // Gives the lock back and closes its handle; each platform's own.
  static void unlock(NativeFile handle);

  NativeFile handle_{};
  bool held_ = false;
};

// How long lockDirectory waits for a lock that another process holds.
inline constexpr int lockPatienceSeconds = 5;

// Waits for and takes the lock on `directory` (empty: the current
// directory). nullopt, and no lock, when the directory does not exist;
// nothing is created. ExcludeFileLocked (the lock guards that file) when
// another process holds it for longer than lockPatienceSeconds.
Result<std::optional<DirectoryLock>> lockDirectory(std::string_view directory);

// Follows symbolic links until the path names something that is not one
// (or nothing at all): the file that a write to `path` finally reaches. A
// relative link is taken from the directory of the link.
Result<ByteBuffer> resolveSymbolicLinks(std::string_view path);

// A stretch of an open file: `length` bytes from `offset` on. replaceFile
// may close the file once its bytes are copied: Windows cannot put a new
// file in the place of one that is still open.
struct FileRange {
  File& file;
  std::uint64_t offset;
  std::uint64_t length;
};

// Replaces the content of the file at `path` with the bytes of the `kept`
// ranges, in order (copied by the system without passing through this
// program where it can), followed by the concatenation of `pieces`. A
// failure leaves the old content intact. When `path` is a symbolic link, the
// link stays and its target is written.
//
// Normally the content goes to a new file in the same directory, which then
// takes the file's place in one step: a reader sees either the old or the
// new content. An existing file's permission bits, owner and group are
// kept; a new one gets the platform's defaults. Where a new file would not
// be the same file to everyone, the file is written in place instead: when
// it has other hard links, when its owner, group or mode cannot be given to
// a new file, when the directory takes no new file or the temporary name is
// too long, and when the rename is refused (a bind mount, a sticky
// directory). In place, content that only grows the file (`kept` is the
// whole of this file) is appended with one write, cut off again if that
// write fails; any other content is written over the old, which is written
// back if the new cannot be written whole. A device or a pipe is always
// written to in place; a FIFO or a socket is refused (UnsupportedFileType).
// Every other handle of this process on the file must be closed first.
Status replaceFile(std::string_view path, std::span<const FileRange> kept,
                   std::span<const std::string_view> pieces);

}  // namespace hushmark
