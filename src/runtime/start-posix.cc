// The process entry on POSIX systems: prepares the runtime, then hands over
// to the front end.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <new>

#include "cli/arg_iterator.h"
#include "cli/front_end.h"
#include "runtime/environment.h"
#include "runtime/exit.h"
#include "runtime/interrupt.h"
#include "runtime/log.h"

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

int main(int argc, char** argv) {
  using namespace hushmark;
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

  auto environment = Environment::capture();
  if (!environment) {
    logError({"failed to parse environment variables: ", errorName(environment.error())});
    exitProcess(1);
  }
  setProcessEnvironment(std::move(*environment));

  try {
    ArgIterator args(std::span<char* const>(argv, argc > 0 ? static_cast<std::size_t>(argc) : 0));
    return runFrontEnd(args);
  } catch (const std::bad_alloc&) {
    logError({errorName(Error::OutOfMemory)});
    return 1;
  }
}
