// The file primitives on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/file.h"
#include "posix_config.h"

namespace hushmark {

const bool windowsFilePaths = false;

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

Result<File> open(std::string_view path, int flags, mode_t mode = 0) {
  auto cpath = CPath::from(path);
  if (!cpath) return fail(cpath.error());
  for (;;) {
    int fd = ::open(cpath->get(), flags | O_CLOEXEC, mode);
    if (fd >= 0) return File(fd);
    if (errno != EINTR) return failFromErrno();
  }
}

FileStatus statusFrom(const struct stat& info) {
  FileKind kind = FileKind::Device;
  if (S_ISREG(info.st_mode)) kind = FileKind::Regular;
  if (S_ISDIR(info.st_mode)) kind = FileKind::Directory;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) kind = FileKind::Pipe;
  return {kind,
          {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)},
          info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0,
          static_cast<std::uint64_t>(info.st_nlink)};
}

}  // namespace

void File::close(NativeFile handle) {
  ::close(handle);
}

Status closeFile(File& file) {
  if (!file.isOpen()) return {};
  if (::close(file.release()) != 0 && errno != EINTR) return failFromErrno();
  return {};
}

Result<std::optional<FileStatus>> statusOf(std::string_view path) {
  auto cpath = CPath::from(path);
  if (!cpath) return fail(cpath.error());
  struct stat info;
  if (::stat(cpath->get(), &info) == 0) return statusFrom(info);
  if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
  return failFromErrno();
}

Result<FileStatus> statusOf(const File& file) {
  struct stat info;
  if (::fstat(file.handle(), &info) != 0) return failFromErrno();
  return statusFrom(info);
}

Result<File> openForReading(std::string_view path) {
  // Without waiting: opening a FIFO waits for a writer otherwise.
  auto file = open(path, O_RDONLY | O_NONBLOCK);
  if (!file) {
    // A socket cannot be opened at all.
    auto status = statusOf(path);
    if (file.error() == Error::NoDevice && status && *status && (*status)->kind == FileKind::Pipe) {
      return fail(Error::UnsupportedFileType);
    }
    return fail(file.error());
  }
  auto status = statusOf(*file);
  if (!status) return fail(status.error());
  if (status->kind == FileKind::Directory) return fail(Error::IsDir);
  if (status->kind == FileKind::Pipe) return fail(Error::UnsupportedFileType);
  // A device is read as it always was, waiting for its data.
  if (status->kind == FileKind::Device) {
    int flags = ::fcntl(file->handle(), F_GETFL);
    if (flags < 0 || ::fcntl(file->handle(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
      return failFromErrno();
    }
  }
  return file;
}

Result<File> openForUpdate(std::string_view path) {
  return open(path, O_RDWR);
}

Result<File> openOrCreateForUpdate(std::string_view path) {
  return open(path, O_RDWR | O_CREAT, 0666);
}

Result<File> openDeviceForWriting(std::string_view path) {
  return open(path, O_WRONLY | O_TRUNC | O_NONBLOCK);
}

Result<File> createExclusive(std::string_view path, bool ownerOnly) {
  return open(path, O_WRONLY | O_CREAT | O_EXCL, ownerOnly ? 0600 : 0666);
}

std::uint64_t sizeHint(const File& file) {
  auto status = statusOf(file);
  return status && status->kind == FileKind::Regular ? status->size : 0;
}

Result<std::size_t> readSome(const File& file, char* into, std::size_t capacity) {
  for (;;) {
    ssize_t count = ::read(file.handle(), into, capacity);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) return failFromErrno();
  }
}

Result<std::size_t> readAt(const File& file, std::uint64_t offset, char* into,
                           std::size_t capacity) {
  for (;;) {
    ssize_t count = ::pread(file.handle(), into, capacity, static_cast<off_t>(offset));
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) return failFromErrno();
  }
}

Status writeAt(const File& file, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    ssize_t written =
        ::pwrite(file.handle(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return failFromErrno();
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return {};
}

Status truncateFile(const File& file, std::uint64_t size) {
  if (::ftruncate(file.handle(), static_cast<off_t>(size)) != 0) return failFromErrno();
  return {};
}

Result<std::uint64_t> copyInSystem(const File& from, std::uint64_t offset, const File& to,
                                   std::uint64_t toOffset, std::uint64_t length) {
#if HUSHMARK_HAVE_COPY_FILE_RANGE
  auto in = static_cast<off_t>(offset);
  auto out = static_cast<off_t>(toOffset);
  for (;;) {
    ssize_t copied = ::copy_file_range(from.handle(), &in, to.handle(), &out,
                                       static_cast<std::size_t>(length), 0);
    if (copied >= 0) return static_cast<std::uint64_t>(copied);
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) return 0;
    return failFromErrno();
  }
#else
  (void)from, (void)offset, (void)to, (void)toOffset, (void)length;
  return 0;
#endif
}

Status renameOver(std::string_view from, std::string_view to) {
  auto source = CPath::from(from);
  if (!source) return fail(source.error());
  auto target = CPath::from(to);
  if (!target) return fail(target.error());
  if (::rename(source->get(), target->get()) != 0) return failFromErrno();
  return {};
}

void removeFile(std::string_view path) {
  ::unlink(path.data());
}

std::size_t pathRootLength(std::string_view path) {
  return path.starts_with('/') ? 1 : 0;
}

bool isPathSeparator(char c) {
  return c == '/';
}

std::string_view directoryPart(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view directory = path.substr(0, slash);
  while (!directory.empty() && directory.back() == '/') directory.remove_suffix(1);
  return directory.empty() ? path.substr(0, 1) : directory;
}

Status createDirectory(std::string_view path) {
  auto cpath = CPath::from(path);
  if (!cpath) return fail(cpath.error());
  if (::mkdir(cpath->get(), 0777) != 0) return failFromErrno();
  return {};
}

}  // namespace hushmark
