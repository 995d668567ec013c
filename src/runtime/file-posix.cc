#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "posix_config.h"
#include "runtime/buffer.h"
#include "runtime/file.h"
#include "runtime/interrupt.h"
#include "runtime/output.h"

namespace hushmark {

namespace {

std::unexpected<Error> failFromErrno() {
  return fail(errorFromSystem(errno));
}

// A NUL-terminated copy of a path for the system calls.
class CPath {
 public:
  static Result<CPath> from(std::string_view path) {
    CPath copy;
    if (auto added = copy.bytes_.append(path); !added) return fail(added.error());
    if (auto added = copy.bytes_.append('\0'); !added) return fail(added.error());
    return copy;
  }
  const char* get() const { return bytes_.data(); }

 private:
  ByteBuffer bytes_;
};

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  for (;;) {
    int fd = ::open(path, flags | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

Result<ByteBuffer> joinPath(std::string_view directory, std::string_view name) {
  ByteBuffer joined;
  if (!directory.empty()) {
    if (auto added = joined.append(directory); !added) return fail(added.error());
    if (directory.back() != '/') {
      if (auto added = joined.append('/'); !added) return fail(added.error());
    }
  }
  if (auto added = joined.append(name); !added) return fail(added.error());
  return joined;
}

}  // namespace

Result<ByteBuffer> resolveSymbolicLinks(std::string_view path) {
  ByteBuffer current;
  if (auto added = current.append(path); !added) return fail(added.error());
  for (int hops = 0;; ++hops) {
    auto cpath = CPath::from(current.view());
    if (!cpath) return fail(cpath.error());
    struct stat info;
    if (::lstat(cpath->get(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    if (hops == 40) return fail(Error::SymLinkLoop);
    ByteBuffer target;
    std::size_t room = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 256;
    for (;;) {
      if (auto reserved = target.reserveExtra(room); !reserved) return fail(reserved.error());
      ssize_t length = ::readlink(cpath->get(), target.spare(), target.spareSize());
      if (length < 0) return failFromErrno();
      if (static_cast<std::size_t>(length) < target.spareSize()) {
        target.commit(static_cast<std::size_t>(length));
        break;
      }
      room = target.spareSize() * 2;
    }
    if (target.view().starts_with('/')) {
      current = std::move(target);
    } else {
      auto joined = joinPath(directoryPart(current.view()), target.view());
      if (!joined) return fail(joined.error());
      current = std::move(*joined);
    }
  }
}

namespace {

long long monotonicNanoseconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// A fresh file next to `target`, created exclusively with the default
// permissions. Its name, NUL-terminated so that removing it needs no further
// allocation, is left in `name`.
Result<File> createSibling(std::string_view target, ByteBuffer& name) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long tag = static_cast<unsigned long long>(now.tv_nsec) ^
                             (static_cast<unsigned long long>(::getpid()) << 20) ^
                             (static_cast<unsigned long long>(++counter) << 40);
    char suffix[16];
    for (char& digit : suffix) {
      digit = "0123456789abcdefghijklmnopqrstuv"[tag & 31];
      tag >>= 5;
    }
    name.clear();
    for (std::string_view piece : {target, std::string_view(".hushmark-tmp."),
                                   std::string_view(suffix, 12), std::string_view("\0", 1)}) {
      if (auto added = name.append(piece); !added) return fail(added.error());
    }
    int fd = openRetrying(name.data(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) return File(fd);
    if (errno != EEXIST) return failFromErrno();
  }
  return fail(Error::PathAlreadyExists);
}

// Copies up to `length` bytes from `offset` on (which moves on) to the
// current position of `to`, inside the kernel; fails with ENOSYS where the
// system has no such call.
ssize_t copyInKernel(int from, off_t* offset, int to, std::size_t length) {
#if HUSHMARK_HAVE_COPY_FILE_RANGE
  return ::copy_file_range(from, offset, to, nullptr, length, 0);
#else
  (void)from, (void)offset, (void)to, (void)length;
  errno = ENOSYS;
  return -1;
#endif
}

// Copies the range into `out` inside the kernel where the system and the
// file system allow it, and through a buffer where they do not.
Status copyRange(const FileRange& range, const File& out) {
  off_t offset = static_cast<off_t>(range.offset);
  std::uint64_t left = range.length;
  bool kernelCopy = true;
  // The buffer lives on the heap: the program must run within a small stack.
  ByteBuffer chunk;
  while (left > 0) {
    if (kernelCopy) {
      ssize_t copied =
          copyInKernel(range.file.handle(), &offset, out.handle(), static_cast<std::size_t>(left));
      if (copied > 0) {
        left -= static_cast<std::uint64_t>(copied);
        continue;
      }
      if (copied < 0 && errno == EINTR) continue;
      if (copied < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL &&
          errno != EOPNOTSUPP) {
        return failFromErrno();
      }
      // Not offered here (or nothing copied, which some file systems answer
      // instead): copy through a buffer, which also tells a file that shrank.
      kernelCopy = false;
    }
    if (chunk.spareSize() == 0) {
      if (auto reserved = chunk.reserveExtra(std::size_t{64} * 1024); !reserved) return reserved;
    }
    std::size_t want =
        left < chunk.spareSize() ? static_cast<std::size_t>(left) : chunk.spareSize();
    ssize_t got = ::pread(range.file.handle(), chunk.spare(), want, offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return failFromErrno();
    }
    if (got == 0) return fail(Error::InputOutput);
    if (auto written =
            writeAll(out.handle(), std::string_view(chunk.spare(), static_cast<std::size_t>(got)));
        !written) {
      return written;
    }
    offset += got;
    left -= static_cast<std::uint64_t>(got);
  }
  return {};
}

Status writePieces(const File& file, std::span<const std::string_view> pieces) {
  for (std::string_view piece : pieces) {
    if (auto written = writeAll(file.handle(), piece); !written) return written;
  }
  return {};
}

}  // namespace

void File::close(NativeFile handle) {
  ::close(handle);
}

Result<File> openForReading(std::string_view path) {
  auto cpath = CPath::from(path);
  if (!cpath) return fail(cpath.error());
  // Without waiting: opening a FIFO waits for a writer otherwise.
  int fd = openRetrying(cpath->get(), O_RDONLY | O_NONBLOCK);
  struct stat info;
  if (fd < 0) {
    int code = errno;
    // A socket cannot be opened at all.
    if (code == ENXIO && ::stat(cpath->get(), &info) == 0 && S_ISSOCK(info.st_mode)) {
      return fail(Error::UnsupportedFileType);
    }
    return fail(errorFromSystem(code));
  }
  File file(fd);
  if (::fstat(fd, &info) != 0) return failFromErrno();
  if (S_ISDIR(info.st_mode)) return fail(Error::IsDir);
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return fail(Error::UnsupportedFileType);
  // A device is read as it always was, waiting for its data.
  if (!S_ISREG(info.st_mode)) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return failFromErrno();
  }
  return file;
}

std::uint64_t sizeHint(const File& file) {
  struct stat info;
  if (::fstat(file.handle(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

Result<std::size_t> readSome(const File& file, char* into, std::size_t capacity) {
  for (;;) {
    ssize_t count = ::read(file.handle(), into, capacity);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) return failFromErrno();
  }
}

std::string_view directoryPart(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view directory = path.substr(0, slash);
  while (!directory.empty() && directory.back() == '/') directory.remove_suffix(1);
  return directory.empty() ? path.substr(0, 1) : directory;
}

Status createDirectories(std::string_view directory) {
  if (directory.empty()) return {};
  auto whole = CPath::from(directory);
  if (!whole) return fail(whole.error());
  struct stat info;
  if (::stat(whole->get(), &info) == 0 && S_ISDIR(info.st_mode)) return {};
  // Outermost first: every prefix that ends before a separator, then the
  // whole path.
  for (std::size_t end = 1; end <= directory.size(); ++end) {
    if (end < directory.size() && directory[end] != '/') continue;
    if (end < directory.size() && directory[end - 1] == '/') continue;
    auto prefix = CPath::from(directory.substr(0, end));
    if (!prefix) return fail(prefix.error());
    if (::mkdir(prefix->get(), 0777) == 0) continue;
    int code = errno;
    if (code == EEXIST) {
      if (::stat(prefix->get(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
      return fail(Error::NotDir);
    }
    return fail(errorFromSystem(code));
  }
  return {};
}

void DirectoryLock::unlock(NativeFile handle) {
  ::close(handle);
}

Result<std::optional<DirectoryLock>> lockDirectory(std::string_view directory) {
  auto cpath = CPath::from(directory.empty() ? std::string_view(".") : directory);
  if (!cpath) return fail(cpath.error());
  int fd = openRetrying(cpath->get(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    // A directory that may be searched but not read: go on without a lock.
    if (errno == EACCES) return DirectoryLock();
    return failFromErrno();
  }
  File handle(fd);
  // Tries again at short, growing intervals while another process holds the
  // lock, and gives up after a while instead of waiting forever.
  const long long deadline = monotonicNanoseconds() + lockPatienceSeconds * 1000000000LL;
  long pause = 1000000L;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) {
      if (monotonicNanoseconds() >= deadline) return fail(Error::ExcludeFileLocked);
      struct timespec wait = {0, pause};
      while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
      }
      pause = pause * 2 < 32000000L ? pause * 2 : 32000000L;
      continue;
    }
    // File systems that offer no such lock (NFS emulates it with byte-range
    // locks that need a file open for writing): go on without one, as an
    // unlocked edit is still correct when no other run is at work.
    if (errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
      return DirectoryLock();
    }
    return failFromErrno();
  }
  return DirectoryLock(handle.release());
}

namespace {

// Writes straight into an existing file that is no regular file.
Status writeInPlace(const char* path, std::span<const FileRange> kept,
                    std::span<const std::string_view> pieces) {
  int fd = openRetrying(path, O_WRONLY | O_TRUNC | O_NONBLOCK);
  if (fd < 0) return failFromErrno();
  File out(fd);
  for (const FileRange& range : kept) {
    if (auto copied = copyRange(range, out); !copied) return copied;
  }
  return writePieces(out, pieces);
}

// Writes all of `bytes` at `offset`, looping over partial writes.
Status writeAt(int fd, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return failFromErrno();
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return {};
}

// Appends `length` bytes of `fd` from `offset` on, read with pread, to `out`.
Status readAt(int fd, std::uint64_t offset, std::uint64_t length, ByteBuffer& out) {
  if (auto reserved = out.reserveExtra(static_cast<std::size_t>(length)); !reserved) {
    return reserved;
  }
  while (length > 0) {
    ssize_t got =
        ::pread(fd, out.spare(), static_cast<std::size_t>(length), static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return failFromErrno();
    }
    // The file is shorter than it said.
    if (got == 0) return fail(Error::InputOutput);
    out.commit(static_cast<std::size_t>(got));
    offset += static_cast<std::uint64_t>(got);
    length -= static_cast<std::uint64_t>(got);
  }
  return {};
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Rewrites an existing regular file in place, where a new file renamed over
// it would not be the same file to everyone (see replaceFile). It stays
// whole on failure: when the kept range is the whole of this very file, the
// rest is appended with one write and cut off again if that write fails;
// otherwise the old bytes are kept and written back when the new content
// cannot be written whole.
Status rewriteInPlace(const char* path, std::span<const FileRange> kept,
                      std::span<const std::string_view> pieces) {
  int fd = openRetrying(path, O_RDWR);
  if (fd < 0) return failFromErrno();
  File file(fd);
  struct stat info;
  if (::fstat(fd, &info) != 0) return failFromErrno();
  auto oldSize = static_cast<std::uint64_t>(info.st_size);
  auto isThisFile = [&](const FileRange& range) {
    struct stat rangeInfo;
    return ::fstat(range.file.handle(), &rangeInfo) == 0 && sameFile(rangeInfo, info);
  };

  ByteBuffer content;
  if (kept.size() == 1 && kept[0].offset == 0 && kept[0].length == oldSize && isThisFile(kept[0])) {
    for (std::string_view piece : pieces) {
      if (auto added = content.append(piece); !added) return added;
    }
    auto written = writeAt(fd, content.view(), oldSize);
    if (!written) (void)!::ftruncate(fd, static_cast<off_t>(oldSize));
    return written;
  }

  ByteBuffer old;
  if (auto read = readAt(fd, 0, oldSize, old); !read) return read;
  for (const FileRange& range : kept) {
    if (isThisFile(range)) {
      if (range.offset > old.size() || range.length > old.size() - range.offset) {
        return fail(Error::InputOutput);
      }
      auto bytes = old.view().substr(static_cast<std::size_t>(range.offset),
                                     static_cast<std::size_t>(range.length));
      if (auto added = content.append(bytes); !added) return added;
    } else if (auto read = readAt(range.file.handle(), range.offset, range.length, content);
               !read) {
      return read;
    }
  }
  for (std::string_view piece : pieces) {
    if (auto added = content.append(piece); !added) return added;
  }
  auto written = writeAt(fd, content.view(), 0);
  if (written && ::ftruncate(fd, static_cast<off_t>(content.size())) != 0) {
    written = failFromErrno();
  }
  if (!written) {
    (void)writeAt(fd, old.view(), 0);
    (void)!::ftruncate(fd, static_cast<off_t>(old.size()));
  }
  return written;
}

}  // namespace

Status replaceFile(std::string_view path, std::span<const FileRange> kept,
                   std::span<const std::string_view> pieces) {
  // The temporary file is always removed or renamed into place before an
  // interruption can end the process.
  DeferredInterrupts deferred;
  auto target = resolveSymbolicLinks(path);
  if (!target) return fail(target.error());
  auto targetPath = CPath::from(target->view());
  if (!targetPath) return fail(targetPath.error());

  struct stat existing;
  bool exists = ::stat(targetPath->get(), &existing) == 0;
  if (exists) {
    if (S_ISDIR(existing.st_mode)) return fail(Error::IsDir);
    if (S_ISFIFO(existing.st_mode) || S_ISSOCK(existing.st_mode)) {
      return fail(Error::UnsupportedFileType);
    }
    // A device or a pipe is written to, never replaced.
    if (!S_ISREG(existing.st_mode)) return writeInPlace(targetPath->get(), kept, pieces);
    // Replacing needs only a writable directory; the file's own protection
    // against writing still holds.
    if (::faccessat(AT_FDCWD, targetPath->get(), W_OK, AT_EACCESS) != 0) return failFromErrno();
    // A new file would leave the other names of the file with the old
    // content.
    if (existing.st_nlink > 1) return rewriteInPlace(targetPath->get(), kept, pieces);
  }

  ByteBuffer tempName;
  auto temp = createSibling(target->view(), tempName);
  if (!temp) {
    // The directory takes no new file, or the temporary name is too long
    // where the file's own is not: the file itself can still be written.
    if (exists && (temp.error() == Error::AccessDenied || temp.error() == Error::NameTooLong)) {
      return rewriteInPlace(targetPath->get(), kept, pieces);
    }
    return fail(temp.error());
  }
  auto discard = [&](Error error) -> Status {
    ::unlink(tempName.data());
    return fail(error);
  };

  if (exists) {
    // Keep the owner where the system lets us (it does for root, who may be
    // editing another user's repository); the permission bits always.
    (void)!::fchown(temp->handle(), existing.st_uid, existing.st_gid);
    if (::fchmod(temp->handle(), existing.st_mode & 07777) != 0) {
      return discard(errorFromSystem(errno));
    }
    // Where owner, group or mode cannot be kept (another user's file, a
    // group this user is not in), the new file would not be the same file
    // to everyone: write the old one in place instead.
    struct stat made;
    if (::fstat(temp->handle(), &made) != 0) return discard(errorFromSystem(errno));
    if (made.st_uid != existing.st_uid || made.st_gid != existing.st_gid ||
        (made.st_mode & 07777) != (existing.st_mode & 07777)) {
      ::unlink(tempName.data());
      return rewriteInPlace(targetPath->get(), kept, pieces);
    }
  }
  for (const FileRange& range : kept) {
    if (auto copied = copyRange(range, *temp); !copied) return discard(copied.error());
  }
  if (auto written = writePieces(*temp, pieces); !written) return discard(written.error());
  // A failed close can mean that the content never reached the file (a
  // network file system reports deferred write errors there): the old file
  // stays then.
  if (::close(temp->release()) != 0 && errno != EINTR) return discard(errorFromSystem(errno));
  if (::rename(tempName.data(), targetPath->get()) != 0) {
    int code = errno;
    ::unlink(tempName.data());
    // The file is a mount point (a bind mount), or may not be replaced (a
    // sticky directory, another user's file): the file itself can still be
    // written.
    if (exists && (code == EBUSY || code == EXDEV || code == EPERM || code == EACCES)) {
      return rewriteInPlace(targetPath->get(), kept, pieces);
    }
    return fail(errorFromSystem(code));
  }
  return {};
}

}  // namespace hushmark
