// The process entry on Windows: prepares the runtime, splits the UTF-16
// command line into WTF-8 words, then hands over to the front end.
#include <windows.h>

#include <new>

#include "cli/arg_iterator.h"
#include "cli/front_end.h"
#include "runtime/command_line_split.h"
#include "runtime/environment.h"
#include "runtime/exit.h"
#include "runtime/interrupt.h"
#include "runtime/log.h"

// The entry that -municode selects. Its arguments are not used: the C
// runtime has already split the line into wide strings, but the program
// splits the one command line itself, by the same rules, into one buffer of
// WTF-8 words.
int wmain(int, wchar_t**) {
  using namespace hushmark;
  // No message boxes for failed drives or crashes: failures are reported on
  // standard error like every other.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  installInterruptHandling();

  auto environment = Environment::capture();
  if (!environment) {
    logError({"failed to parse environment variables: ", errorName(environment.error())});
    exitProcess(1);
  }
  setProcessEnvironment(std::move(*environment));

  auto commandLine = CommandLineArgs::split(reinterpret_cast<const char16_t*>(::GetCommandLineW()));
  if (!commandLine) {
    logError({errorName(commandLine.error())});
    exitProcess(1);
  }

  try {
    ArgIterator args(commandLine->args());
    return runFrontEnd(args);
  } catch (const std::bad_alloc&) {
    logError({errorName(Error::OutOfMemory)});
    return 1;
  }
}
