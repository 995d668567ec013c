// The platform's file primitives: opening, creating, reading and writing at
// an offset, truncating, a file's identity, kind and protection, renaming,
// links and locks. Each is one system request, or a few that belong
// together; every decision built on them (which route a rewrite takes,
// how long a lock is waited for) is made in portable code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "base/buffer.h"
#include "base/error.h"
#include "base/native_file.h"

namespace hushmark {

// Whether the file calls take Windows paths, in which a path that begins
// with a single "/" is relative to the current drive's root.
extern const bool windowsFilePaths;

// An open file, closed when the object goes. A failure to close is not
// reported, unless the file is closed with closeFile.
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
  bool isOpen() const { return open_; }
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

// Closes the file and reports a failure: some file systems report a
// deferred write error only there.
Status closeFile(File& file);

enum class FileKind : std::uint8_t { Regular, Directory, Device, Pipe };

// What tells one file from every other on the machine, whichever name
// reaches it.
struct FileIdentity {
  std::uint64_t volume = 0;
  // The file's number on its volume: 128 bits on Windows, where ReFS
  // numbers files beyond 64 bits; `indexHigh` is 0 elsewhere.
  std::uint64_t index = 0;
  std::uint64_t indexHigh = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct FileStatus {
  FileKind kind = FileKind::Regular;
  FileIdentity identity;
  std::uint64_t size = 0;
  // How many names the file has.
  std::uint64_t links = 1;
};

// The status of the file that `path` finally names, links followed;
// nullopt when nothing is there (nor a directory on the way).
Result<std::optional<FileStatus>> statusOf(std::string_view path);
Result<FileStatus> statusOf(const File& file);

// Opens an existing file that is not a directory for reading, relative to
// the current directory, without a lock and without waiting. IsDir when the
// path names a directory; UnsupportedFileType for a FIFO or a socket;
// FileNotFound when it or a directory on the way is missing.
Result<File> openForReading(std::string_view path);

// Opens an existing file for reading and writing, its content untouched.
Result<File> openForUpdate(std::string_view path);

// Opens the file for reading and writing, creating it when missing.
Result<File> openOrCreateForUpdate(std::string_view path);

// Opens an existing device for writing, as a stream.
Result<File> openDeviceForWriting(std::string_view path);

// Creates a new file at `path`, failing with PathAlreadyExists when
// something is there. `ownerOnly`: nobody but its owner may open it until
// its protection is set; otherwise it gets the platform's default
// protection for a new file.
Result<File> createExclusive(std::string_view path, bool ownerOnly);

// The file's size as far as the platform knows it; 0 when it cannot tell.
std::uint64_t sizeHint(const File& file);

// Reads at most `capacity` bytes at the file's position; 0 at its end.
Result<std::size_t> readSome(const File& file, char* into, std::size_t capacity);

// Reads at most `capacity` bytes at `offset`; 0 at the end of the file.
Result<std::size_t> readAt(const File& file, std::uint64_t offset, char* into,
                           std::size_t capacity);

// Writes all of `bytes` at `offset`.
Status writeAt(const File& file, std::string_view bytes, std::uint64_t offset);

// Sets the file's length.
Status truncateFile(const File& file, std::uint64_t size);

// Copies up to `length` bytes at `offset` of `from` to `to` at `toOffset`
// without passing them through this program, and tells how many; 0 where
// the system or the file systems offer no such copy (or at the end of
// `from`).
Result<std::uint64_t> copyInSystem(const File& from, std::uint64_t offset, const File& to,
                                   std::uint64_t toOffset, std::uint64_t length);

// Puts the file at `from` in the place of the one at `to`, in one step.
Status renameOver(std::string_view from, std::string_view to);

// Removes the file at `path`; failure is not reported. The byte after
// `path` is a NUL, so that the platform may take the bytes as they are:
// a temporary file is removed even when memory has run out.
void removeFile(std::string_view path);

// Whether `path` names a root, absolute or relative, and how long that root
// is; whether `c` separates components of a path; the directory part of
// `path` (everything before its last component, without the separator,
// but never shorter than its root). Empty for a bare file name.
std::size_t pathRootLength(std::string_view path);
bool isPathSeparator(char c);
std::string_view directoryPart(std::string_view path);

// Creates one directory; PathAlreadyExists when something is there.
Status createDirectory(std::string_view path);

}  // namespace hushmark
