// On POSIX systems there are no consoles with attribute words: standard error
// takes escape sequences when it is a terminal that is not a dumb one.
#include <unistd.h>

#include "runtime/color.h"

namespace hushmark {

TerminalInfo inspectStandardError(const Environment& environment) {
  TerminalInfo info;
  if (::isatty(STDERR_FILENO) == 1) {
    auto term = environment.get("TERM");
    info.takesEscapes = !(term && *term == "dumb");
  }
  return info;
}

void setConsoleAttributes(std::uint16_t) {}

}  // namespace hushmark
