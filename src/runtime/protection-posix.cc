// Who may do what with a file on POSIX systems: owner, group, permission
// bits, and the extended attributes that hold access control lists.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "posix_config.h"
#include "runtime/buffer.h"
#include "runtime/protection.h"

#if HUSHMARK_HAVE_XATTR
#include <sys/xattr.h>
#endif

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

Status checkWritable(std::string_view path) {
  auto cpath = cPath(path);
  if (!cpath) return fail(cpath.error());
  if (::faccessat(AT_FDCWD, cpath->data(), W_OK, AT_EACCESS) != 0) return failFromErrno();
  return {};
}

}  // namespace hushmark
