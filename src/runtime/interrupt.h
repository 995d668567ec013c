// What an interruption from outside (a signal on POSIX systems) may not
// leave behind: a running git child, or a temporary file next to the
// exclude file. Ending the process that way first ends and reaps the child,
// then the process ends as it would have without this program's handling,
// so that its parent sees the same cause.
#pragma once

#include <cstdint>

namespace hushmark {

// Installs the handling; called once at start-up, before any child starts.
// An interruption that the parent asked to be ignored stays ignored.
void installInterruptHandling();

// Holds back every interruption that ends the process while it lives; one
// that arrived meanwhile takes effect when the last of them goes. Nests.
class DeferredInterrupts {
 public:
  DeferredInterrupts();
  ~DeferredInterrupts();
  DeferredInterrupts(const DeferredInterrupts&) = delete;
  DeferredInterrupts& operator=(const DeferredInterrupts&) = delete;
};

// The child that an interruption ends first (the platform's process id or
// handle), or 0 for none. Changed only while interruptions are held back,
// so that no interruption finds an id that was already given up.
void setInterruptibleChild(std::intptr_t child);

}  // namespace hushmark
