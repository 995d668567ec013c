// Symbolic links on POSIX systems.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "files/symlink.h"

namespace hushmark {

Result<std::optional<ByteBuffer>> readSymbolicLink(std::string_view path) {
  ByteBuffer cpath;
  if (auto added = cpath.append(path); !added) return fail(added.error());
  if (auto added = cpath.append('\0'); !added) return fail(added.error());
  struct stat info;
  if (::lstat(cpath.data(), &info) != 0 || !S_ISLNK(info.st_mode)) return std::nullopt;
  ByteBuffer target;
  std::size_t room = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 256;
  for (;;) {
    if (auto reserved = target.reserveExtra(room); !reserved) return fail(reserved.error());
    ssize_t length = ::readlink(cpath.data(), target.spare(), target.spareSize());
    if (length < 0) return fail(errorFromSystem(errno));
    if (static_cast<std::size_t>(length) < target.spareSize()) {
      target.commit(static_cast<std::size_t>(length));
      return std::optional<ByteBuffer>(std::move(target));
    }
    room = target.spareSize() * 2;
  }
}

}  // namespace hushmark
