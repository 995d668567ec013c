// The process group that the git child leads: git and whatever it starts
// (the real git behind a wrapper script) are ended together through it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cerrno>

namespace hushmark {

// Sends `signal` to every process of the group `group`. Safe in a signal
// handler.
inline void signalGroup(pid_t group, int signal) {
  ::kill(-group, signal);
}

// Whether any process of the group is still there. The group's id is not
// given to another process while the group has members, so this may be
// asked after its leader has been reaped. Safe in a signal handler.
inline bool groupRunning(pid_t group) {
  int saved = errno;
  bool running = ::kill(-group, 0) == 0 || errno == EPERM;
  errno = saved;
  return running;
}

}  // namespace hushmark
