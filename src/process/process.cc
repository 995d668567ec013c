#include "process/process.h"

#include "runtime/child_ending.h"

namespace hushmark {

void ChildProcess::stop() {
  endChildGently([this] { askToEnd(); },
                 [this](int milliseconds) { return finishWithin(milliseconds); },
                 [this] { kill(); });
}

}  // namespace hushmark
