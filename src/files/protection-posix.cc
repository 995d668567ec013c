// Who may do what with a file on POSIX systems: owner, group, permission
// bits, and the extended attributes that hold access control lists.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/buffer.h"
#include "files/protection.h"
#include "posix_config.h"

#if HUSHMARK_HAVE_XATTR
#include <sys/xattr.h>
#endif
#if HUSHMARK_HAVE_INODE_FLAGS
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif
#include <sys/sysmacros.h>

namespace hushmark {

namespace {

std::unexpected<Error> failFromErrno() {
  return fail(errorFromSystem(errno));
}

// A NUL-terminated copy of a path for the system calls.
Result<ByteBuffer> cPath(std::string_view path) {
  ByteBuffer copy;
  if (auto added = copy.append(path); !added) return fail(added.error());
  if (auto added = copy.append('\0'); !added) return fail(added.error());
  return copy;
}

#if HUSHMARK_HAVE_INODE_FLAGS
// The inode flags that a file's owner may set, and that a new file does not
// take from the old one by itself.
constexpr int ownerFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_IMMUTABLE_FL |
                           FS_APPEND_FL | FS_NODUMP_FL | FS_NOATIME_FL | FS_NOTAIL_FL |
                           FS_DIRSYNC_FL | FS_TOPDIR_FL | FS_NOCOW_FL | FS_PROJINHERIT_FL;

// The flags of an open file; none where the file system keeps none.
int inodeFlags(int fd) {
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return 0;
  return flags;
}

// The flags of the file or directory at `path`, opened without waiting.
int inodeFlagsAt(const char* path, int openFlags) {
  int fd = ::open(path, openFlags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return 0;
  int flags = inodeFlags(fd);
  ::close(fd);
  return flags;
}
#endif

// Whether the file whose status is `file` is mounted on a name
// that /proc/self/mountinfo lists: a mount of its file system (same device)
// whose root is not the file system's root and whose mount point is this
// very file. Each line: mount id, parent id, major:minor, root, mount point
// (blanks and backslashes written as octal escapes), then more.
Result<bool> listedAsMount(const struct stat& file) {
  int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ByteBuffer table;
  for (;;) {
    if (auto reserved = table.reserveExtra(std::size_t{16} * 1024); !reserved) {
      ::close(fd);
      return fail(reserved.error());
    }
    ssize_t got = ::read(fd, table.spare(), table.spareSize());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    table.commit(static_cast<std::size_t>(got));
  }
  ::close(fd);
  char device[32];
  int length =
      std::snprintf(device, sizeof device, "%u:%u", major(file.st_dev), minor(file.st_dev));
  std::string_view wanted(device, static_cast<std::size_t>(length));
  std::string_view rest = table.view();
  ByteBuffer point;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    std::string_view fields[5];
    for (std::string_view& field : fields) {
      std::size_t blank = line.find(' ');
      field = line.substr(0, blank);
      line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    }
    if (fields[2] != wanted || fields[3] == "/") continue;
    point.clear();
    for (std::size_t i = 0; i < fields[4].size(); ++i) {
      char c = fields[4][i];
      if (c == '\\' && i + 3 < fields[4].size()) {
        c = static_cast<char>(((fields[4][i + 1] - '0') << 6) | ((fields[4][i + 2] - '0') << 3) |
                              (fields[4][i + 3] - '0'));
        i += 3;
      }
      if (auto added = point.append(c); !added) return fail(added.error());
    }
    if (auto added = point.append('\0'); !added) return fail(added.error());
    struct stat info;
    if (::stat(point.data(), &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == file.st_dev &&
        info.st_ino == file.st_ino) {
      return true;
    }
  }
  return false;
}

#if HUSHMARK_HAVE_XATTR
// The names of a file's extended attributes, each followed by a NUL, read
// by `list` (a path's or an open file's), which the file may change
// meanwhile.
template <typename List>
Result<ByteBuffer> attributeNames(List&& list) {
  ByteBuffer names;
  for (;;) {
    ssize_t size = list(nullptr, 0);
    if (size < 0) return failFromErrno();
    names.clear();
    if (auto reserved = names.reserveExtra(static_cast<std::size_t>(size) + 1); !reserved) {
      return fail(reserved.error());
    }
    ssize_t got = list(names.spare(), names.spareSize());
    if (got >= 0) {
      names.commit(static_cast<std::size_t>(got));
      return names;
    }
    if (errno != ERANGE) return failFromErrno();
  }
}

// One attribute's value, read by `get`, into `value`.
template <typename Get>
Status attributeValue(Get&& get, ByteBuffer& value) {
  for (;;) {
    ssize_t size = get(nullptr, 0);
    if (size < 0) return failFromErrno();
    value.clear();
    if (auto reserved = value.reserveExtra(static_cast<std::size_t>(size) + 1); !reserved) {
      return reserved;
    }
    ssize_t got = get(value.spare(), value.spareSize());
    if (got >= 0) {
      value.commit(static_cast<std::size_t>(got));
      return {};
    }
    if (errno != ERANGE) return failFromErrno();
  }
}

// Calls `visit` with every attribute of the file at `path`: its name
// (NUL-terminated) and value.
template <typename Visit>
Status forEachAttribute(const char* path, Visit&& visit) {
  auto names =
      attributeNames([&](char* into, std::size_t size) { return ::listxattr(path, into, size); });
  if (!names) return fail(names.error());
  ByteBuffer value;
  for (const char* name = names->data(); name < names->data() + names->size();
       name += std::strlen(name) + 1) {
    auto read = attributeValue(
        [&](void* into, std::size_t size) { return ::getxattr(path, name, into, size); }, value);
    if (!read) return read;
    if (auto visited = visit(name, value.view()); !visited) return visited;
  }
  return {};
}
#endif

}  // namespace

// Without a way to read extended attributes, a new file may lack an access
// control list that the old one had.
bool newFileCanTakeProtection() {
  return HUSHMARK_HAVE_XATTR != 0;
}

Status copyProtection(std::string_view from, const File& to) {
  auto cpath = cPath(from);
  if (!cpath) return fail(cpath.error());
  struct stat info;
  if (::stat(cpath->data(), &info) != 0) return failFromErrno();
  // The owner where the system lets us (it does for root, who may be
  // editing another user's repository); the access control lists and other
  // attributes where it lets us; the permission bits always, last, as a
  // list may have changed them.
  (void)!::fchown(to.handle(), info.st_uid, info.st_gid);
#if HUSHMARK_HAVE_XATTR
  auto copied = forEachAttribute(cpath->data(), [&](const char* name, std::string_view value) {
    (void)::fsetxattr(to.handle(), name, value.data(), value.size(), 0);
    return Status();
  });
  if (!copied && copied.error() == Error::OutOfMemory) return copied;
#endif
  if (::fchmod(to.handle(), info.st_mode & 07777) != 0) return failFromErrno();
#if HUSHMARK_HAVE_INODE_FLAGS
  // The old file's flags in place of whatever the new one took from its
  // directory; the others (how the file system stores it) stay.
  int wanted = inodeFlagsAt(cpath->data(), O_RDONLY) & ownerFlags;
  int own = inodeFlags(to.handle());
  if ((own & ownerFlags) != wanted) {
    int flags = (own & ~ownerFlags) | wanted;
    (void)::ioctl(to.handle(), FS_IOC_SETFLAGS, &flags);
  }
#endif
  return {};
}

Result<bool> sameProtection(std::string_view a, const File& b) {
  auto cpath = cPath(a);
  if (!cpath) return fail(cpath.error());
  struct stat first;
  struct stat second;
  if (::stat(cpath->data(), &first) != 0 || ::fstat(b.handle(), &second) != 0) {
    return failFromErrno();
  }
  if (first.st_uid != second.st_uid || first.st_gid != second.st_gid ||
      (first.st_mode & 07777) != (second.st_mode & 07777)) {
    return false;
  }
#if HUSHMARK_HAVE_INODE_FLAGS
  if ((inodeFlagsAt(cpath->data(), O_RDONLY) & ownerFlags) !=
      (inodeFlags(b.handle()) & ownerFlags)) {
    return false;
  }
#endif
#if HUSHMARK_HAVE_XATTR
  // The same attributes with the same values: as many, and each of the
  // first file's found on the second.
  auto names = attributeNames(
      [&](char* into, std::size_t size) { return ::flistxattr(b.handle(), into, size); });
  if (!names) return fail(names.error());
  std::size_t unmatched = 0;
  for (char c : names->view()) unmatched += c == '\0' ? 1 : 0;
  ByteBuffer value;
  bool same = true;
  auto compared = forEachAttribute(cpath->data(), [&](const char* name, std::string_view wanted) {
    auto read = attributeValue(
        [&](void* into, std::size_t size) { return ::fgetxattr(b.handle(), name, into, size); },
        value);
    if (!read && read.error() == Error::OutOfMemory) return read;
    if (!read || value.view() != wanted || unmatched == 0) same = false;
    --unmatched;
    return Status();
  });
  if (!compared) return fail(compared.error());
  return same && unmatched == 0;
#else
  return true;
#endif
}

Result<bool> isMountedFile(std::string_view path) {
  auto cpath = cPath(path);
  if (!cpath) return fail(cpath.error());
  std::string_view directory = directoryPart(path);
  auto cdirectory = cPath(directory.empty() ? std::string_view(".") : directory);
  if (!cdirectory) return fail(cdirectory.error());
  struct stat file;
  struct stat parent;
  if (::stat(cpath->data(), &file) != 0 || ::stat(cdirectory->data(), &parent) != 0) return false;
  if (file.st_dev != parent.st_dev) return true;
#if HUSHMARK_HAVE_STATX_MOUNT
  struct statx fileMount;
  struct statx parentMount;
  if (::statx(AT_FDCWD, cpath->data(), 0, STATX_MNT_ID, &fileMount) == 0 &&
      ::statx(AT_FDCWD, cdirectory->data(), 0, STATX_MNT_ID, &parentMount) == 0 &&
      (fileMount.stx_mask & parentMount.stx_mask & STATX_MNT_ID) != 0 &&
      fileMount.stx_mnt_id != parentMount.stx_mnt_id) {
    return true;
  }
#endif
  return listedAsMount(file);
}

Result<bool> directoryKeepsNames(std::string_view directory) {
#if HUSHMARK_HAVE_INODE_FLAGS
  auto cdirectory = cPath(directory.empty() ? std::string_view(".") : directory);
  if (!cdirectory) return fail(cdirectory.error());
  return (inodeFlagsAt(cdirectory->data(), O_RDONLY | O_DIRECTORY) &
          (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
#else
  (void)directory;
  return false;
#endif
}

Status checkWritable(std::string_view path) {
  auto cpath = cPath(path);
  if (!cpath) return fail(cpath.error());
  if (::faccessat(AT_FDCWD, cpath->data(), W_OK, AT_EACCESS) != 0) return failFromErrno();
  return {};
}

}  // namespace hushmark
