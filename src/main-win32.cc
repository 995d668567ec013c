// The process entry on Windows: the one that -municode selects. Its
// arguments are not used; start-up reads the process's command line itself.
#include "cli/front_end.h"
#include "runtime/startup.h"

int wmain(int, wchar_t**) {
  using namespace hushmark;
  return runFrontEnd(startProcess({}));
}
