// Console control events: Ctrl-C and Ctrl-Break, and a closed console, a
// logoff or a shutdown, which end the process as soon as the handler
// returns. The handler ends the git child, then lets the default handling
// end the process. The system runs the handler on a thread of its own, so
// what it shares with the program's thread is guarded by one lock.
#include <windows.h>

#include "runtime/child_ending.h"
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

// With the guard held: ends at once a child that cannot be working yet, or
// any more. An interruption held back meets only those: one still
// suspended in its creation, or one that is being ended already.
void killChild() {
  if (childProcess == nullptr) return;
  ::TerminateProcess(childProcess, 1);
  ::WaitForSingleObject(childProcess, 5000);
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
  // The process ends when this returns, whatever it answers (and is killed
  // a few seconds later anyway): wait that long at most for the temporary
  // file to be gone.
  if (undeferred != nullptr) ::WaitForSingleObject(undeferred, 4000);
  ::AcquireSRWLockExclusive(&guard);
  if (deferDepth > 0) {
    ::ReleaseSRWLockExclusive(&guard);
    return FALSE;
  }
  // As above, the guard stays taken.
  endChild();
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
