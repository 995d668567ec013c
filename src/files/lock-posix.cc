// Locks on POSIX systems: flock on a descriptor of the file or directory.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/buffer.h"
#include "files/lock.h"

namespace hushmark {

void LockHandle::release(NativeFile handle, bool) {
  // Closing the last descriptor gives the lock back.
  ::close(handle);
}

Result<std::optional<LockTarget>> openLock(std::string_view path) {
  ByteBuffer cpath;
  if (auto added = cpath.append(path.empty() ? std::string_view(".") : path); !added) {
    return fail(added.error());
  }
  if (auto added = cpath.append('\0'); !added) return fail(added.error());
  int fd = -1;
  do {
    fd = ::open(cpath.data(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    // What may be searched but not read, and a socket, which cannot be
    // opened at all: go on without a lock (a socket is refused later).
    if (errno == EACCES || errno == ENXIO) return LockTarget();
    return fail(errorFromSystem(errno));
  }
  LockHandle lock(fd);
  File view(fd);
  auto status = statusOf(view);
  view.release();
  if (!status) return fail(status.error());
  return LockTarget{std::move(lock), status->identity, true};
}

Result<LockAttempt> tryLock(LockHandle& lock) {
  for (;;) {
    if (::flock(lock.handle(), LOCK_EX | LOCK_NB) == 0) return LockAttempt::Taken;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return LockAttempt::Busy;
    // File systems that offer no such lock (NFS emulates it with byte-range
    // locks that need a file open for writing): go on without one, as an
    // unlocked edit is still correct when no other run is at work.
    if (errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
      return LockAttempt::Unsupported;
    }
    return fail(errorFromSystem(errno));
  }
}

}  // namespace hushmark
