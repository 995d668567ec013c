// Console control events: Ctrl-C and Ctrl-Break, and a closing console
// (a logoff or a shutdown sends its events to services only; an
// interactive console program has been ended before). The first two end
// the git child gently, then let the default handling end the process; a
// closing console gives the handler a few seconds only, so it waits for a
// rewrite in progress and ends git at once. The system runs the handler on
// a thread of its own, so what it shares with the program's thread is
// guarded by one lock.
#include <windows.h>

#include "runtime/child_ending.h"
#include "runtime/console_close.h"
#include "runtime/interrupt.h"

namespace hushmark {

namespace {

SRWLOCK guard = SRWLOCK_INIT;
int deferDepth = 0;
// Whether a Ctrl-C or Ctrl-Break arrived while held back.
bool eventPending = false;
HANDLE childProcess = nullptr;
// Set while nothing is held back; a closing console waits for it.
HANDLE undeferred = nullptr;

// With the guard held, which keeps the program's thread from closing the
// child's handle meanwhile. The child has no console, so no Ctrl-C of its
// own: it is given the grace period to finish (git then removes its
// index.lock), while the program's thread goes on reading its output so
// that it never waits on a full pipe, and is terminated when it has not
// ended by then.
void endChild() {
  if (childProcess == nullptr) return;
  HANDLE child = childProcess;
  endChildGently([] {},
                 [child](int milliseconds) {
                   return ::WaitForSingleObject(child, static_cast<DWORD>(milliseconds)) ==
                          WAIT_OBJECT_0;
                 },
                 [child] {
                   ::TerminateProcess(child, 1);
                   ::WaitForSingleObject(child, 5000);
                 });
  childProcess = nullptr;
}

// With the guard held: ends the child at once, and waits `wait` at most for
// its end. A closing console leaves no time for more; an interruption held
// back meets only a child that cannot be working yet, or any more: one
// still suspended in its creation, or one that is being ended already.
void killChild(DWORD wait = 5000) {
  if (childProcess == nullptr) return;
  ::TerminateProcess(childProcess, 1);
  ::WaitForSingleObject(childProcess, wait);
  childProcess = nullptr;
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    ::AcquireSRWLockExclusive(&guard);
    if (deferDepth > 0) {
      eventPending = true;
      ::ReleaseSRWLockExclusive(&guard);
      return TRUE;
    }
    endChild();
    // The system's own handling ends the process. The guard stays taken:
    // the child may have finished its work in its grace period, and the
    // program's thread must not start a rewrite meanwhile.
    return FALSE;
  }
  // The system ends the process a few seconds after the event, whatever
  // the handler is doing.
  handleConsoleClose(
      [](int milliseconds) {
        if (undeferred != nullptr)
          ::WaitForSingleObject(undeferred, static_cast<DWORD>(milliseconds));
      },
      [](int milliseconds) {
        ::AcquireSRWLockExclusive(&guard);
        if (deferDepth > 0) {
          ::ReleaseSRWLockExclusive(&guard);
          return;
        }
        // As above, the guard stays taken. What git started is in its job,
        // which ends with this process.
        killChild(static_cast<DWORD>(milliseconds));
      });
  return FALSE;
}

}  // namespace

void installInterruptHandling() {
  undeferred = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

DeferredInterrupts::DeferredInterrupts() {
  ::AcquireSRWLockExclusive(&guard);
  if (deferDepth++ == 0 && undeferred != nullptr) ::ResetEvent(undeferred);
  ::ReleaseSRWLockExclusive(&guard);
}

DeferredInterrupts::~DeferredInterrupts() {
  ::AcquireSRWLockExclusive(&guard);
  bool interrupted = false;
  if (--deferDepth == 0) {
    if (undeferred != nullptr) ::SetEvent(undeferred);
    interrupted = eventPending;
    eventPending = false;
    if (interrupted) killChild();
  }
  ::ReleaseSRWLockExclusive(&guard);
  // What the system's handling of Ctrl-C and Ctrl-Break does.
  if (interrupted) ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

void setInterruptibleChild(std::intptr_t child) {
  ::AcquireSRWLockExclusive(&guard);
  // The handle comes back through the interface that serves every platform.
  childProcess = reinterpret_cast<HANDLE>(child);  // NOLINT(performance-no-int-to-ptr)
  ::ReleaseSRWLockExclusive(&guard);
}

}  // namespace hushmark
