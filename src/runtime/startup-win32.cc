// Start-up on Windows.
#include <windows.h>

#include <optional>

#include "runtime/command_line_split.h"
#include "runtime/exit.h"
#include "runtime/interrupt.h"
#include "runtime/log.h"
#include "runtime/startup.h"

namespace hushmark {

std::span<char* const> startProcess(std::span<char* const>) {
  // No message boxes for failed drives or crashes: failures are reported on
  // standard error like every other.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  installInterruptHandling();

  captureEnvironment();

  // The C runtime has already split the line into wide strings, but the
  // program splits the one command line itself, by the same rules, into one
  // buffer of WTF-8 words, which lives as long as the process.
  static std::optional<CommandLineArgs> words;
  auto commandLine = CommandLineArgs::split(reinterpret_cast<const char16_t*>(::GetCommandLineW()));
  if (!commandLine) {
    logError({errorName(commandLine.error())});
    exitProcess(1);
  }
  words.emplace(std::move(*commandLine));
  return words->args();
}

}  // namespace hushmark
