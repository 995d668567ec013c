// The process entry on POSIX systems.
#include "cli/front_end.h"
#include "runtime/startup.h"

int main(int argc, char** argv) {
  using namespace hushmark;
  return runFrontEnd(
      startProcess(std::span<char* const>(argv, argc > 0 ? static_cast<std::size_t>(argc) : 0)));
}
