// Signals that end the process: each has one handler, which ends and reaps
// the git child, then lets the signal take the effect it had before the
// handler was installed. Everything the handler does is async-signal-safe.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "runtime/child_ending.h"
#include "runtime/interrupt.h"
#include "runtime/process_group-posix.h"

namespace hushmark {

namespace {

// Every signal whose default action ends the process and that can be
// caught, except SIGPIPE and SIGXFSZ, which this program ignores (their
// causes are reported as errors).
const sigset_t& terminatingSignals() {
  static const sigset_t set = [] {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1,
                       SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS}) {
      sigaddset(&signals, signal);
    }
#ifdef SIGSTKFLT
    sigaddset(&signals, SIGSTKFLT);
#endif
#ifdef SIGPOLL
    sigaddset(&signals, SIGPOLL);
#endif
#ifdef SIGPWR
    sigaddset(&signals, SIGPWR);
#endif
#ifdef SIGLOST
    sigaddset(&signals, SIGLOST);
#endif
#ifdef SIGEMT
    sigaddset(&signals, SIGEMT);
#endif
#ifdef SIGRTMIN
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&signals, signal);
#endif
    return signals;
  }();
  return set;
}

#ifdef NSIG
constexpr int signalLimit = NSIG;
#else
constexpr int signalLimit = 129;
#endif

// What each handled signal did before; the handler puts it back.
struct sigaction previousActions[signalLimit];

volatile sig_atomic_t childId = 0;

int deferDepth = 0;
sigset_t maskBeforeDeferral;

void pause(long nanoseconds) {
  struct timespec wait = {0, nanoseconds};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

// Ends the child's process group the gentle way (git then removes its lock
// files): asked with SIGTERM, looked at every 10 ms, killed when any of it
// is still there after the grace period; the child reaped either way.
void endChild() {
  pid_t pid = childId;
  if (pid <= 0) return;
  int status;
  bool reaped = false;
  endChildGently([pid] { signalGroup(pid, SIGTERM); },
                 [pid, &status, &reaped](int milliseconds) {
                   for (int waited = 0;; waited += 10) {
                     if (!reaped) {
                       pid_t got = ::waitpid(pid, &status, WNOHANG);
                       reaped = got == pid || (got < 0 && errno != EINTR);
                     }
                     if (reaped && !groupRunning(pid)) return true;
                     if (waited >= milliseconds) return false;
                     pause(10000000L);
                   }
                 },
                 [pid, &status, &reaped] {
                   signalGroup(pid, SIGKILL);
                   while (!reaped && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                   }
                 });
  childId = 0;
}

void onTerminatingSignal(int signal) {
  endChild();
  // The signal again, now with its former effect: the default ends the
  // process with this signal as its cause; a handler installed before this
  // program's (a sanitizer's) gets its turn.
  ::sigaction(signal, &previousActions[signal], nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  // Still here: the former handler returned.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

void installInterruptHandling() {
  const sigset_t& handled = terminatingSignals();
  struct sigaction action {};
  action.sa_handler = onTerminatingSignal;
  // One handler at a time: a second signal waits, and never runs while the
  // first is ending the child.
  action.sa_mask = handled;
  for (int signal = 1; signal < signalLimit; ++signal) {
    if (sigismember(&handled, signal) != 1) continue;
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) != 0) continue;
    if (previous.sa_handler == SIG_IGN) continue;
    previousActions[signal] = previous;
    ::sigaction(signal, &action, nullptr);
  }
}

DeferredInterrupts::DeferredInterrupts() {
  if (deferDepth++ == 0) ::sigprocmask(SIG_BLOCK, &terminatingSignals(), &maskBeforeDeferral);
}

DeferredInterrupts::~DeferredInterrupts() {
  if (--deferDepth == 0) ::sigprocmask(SIG_SETMASK, &maskBeforeDeferral, nullptr);
}

void setInterruptibleChild(std::intptr_t child) {
  childId = static_cast<sig_atomic_t>(child);
}

}  // namespace hushmark
