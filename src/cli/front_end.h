// The program's entry once the runtime has started: top-level options, the
// command word, the command's own arguments, the command, and the exit
// status.
#pragma once

#include <span>

namespace hushmark {

// Runs the program over `args` (the program's own name first). Ends the
// process itself on the routes whose text is already written (status 1 after
// a failed git run, status 2 after a usage problem); otherwise returns the
// status, 0 or 1, with everything written.
int runFrontEnd(std::span<char* const> args);

}  // namespace hushmark
