#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/output.h"

namespace hushmark {

NativeFile standardOutput() {
  return STDOUT_FILENO;
}
NativeFile standardError() {
  return STDERR_FILENO;
}

Status writeAll(NativeFile file, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(file, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A non-blocking stream (a parent may hand one down) that is full
        // for now: wait until it takes more.
        pollfd wait{file, POLLOUT, 0};
        if (::poll(&wait, 1, -1) < 0 && errno != EINTR) return fail(errorFromSystem(errno));
        continue;
      }
      return fail(errorFromSystem(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

}  // namespace hushmark
