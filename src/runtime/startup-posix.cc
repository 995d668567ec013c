// Start-up on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "runtime/interrupt.h"
#include "runtime/startup.h"

namespace hushmark {

namespace {

// A closed standard stream would otherwise be taken by the next file the
// program opens, and text meant for the stream could land in the exclude
// file. The hole is filled with the null device opened for reading only, so
// writes to a closed stream still fail as before.
void occupyClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

}  // namespace

std::span<char* const> startProcess(std::span<char* const> given) {
  // A closed pipe on standard output, and a file size limit met while the
  // exclude file is rewritten, are errors to report, not reasons to die. The
  // git child gets the default dispositions back.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  // An ignored SIGCHLD, inherited from the parent, would let the system reap
  // git before its exit status could be read, and would reach git too.
  ::signal(SIGCHLD, SIG_DFL);
  installInterruptHandling();
  occupyClosedStandardStreams();

  captureEnvironment();
  return given;
}

}  // namespace hushmark
