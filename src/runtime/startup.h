// What the process needs before the program proper runs: signals and
// interruptions handled, the standard streams held open, the environment
// read, and the arguments in the program's own form.
#pragma once

#include <span>

namespace hushmark {

// Prepares the process and gives its arguments, the program's name first.
// On POSIX systems they are the ones `main` was given. On Windows, where a
// process receives one UTF-16 command line, they are that line split by the
// C runtime's rules into WTF-8 words (what `main` was given is not used).
// Ends the process with the fallback error line when the environment or the
// command line cannot be read.
std::span<char* const> startProcess(std::span<char* const> given);

// Reads the process's environment for the program's later use; each
// platform's start-up calls it.
void captureEnvironment();

}  // namespace hushmark
