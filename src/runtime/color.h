// How the fallback error line is styled on standard error.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/function_ref.h"
#include "runtime/environment.h"

namespace hushmark {

enum class ColorMode : std::uint8_t { None, EscapeSequences, ConsoleAttributes };

enum class Style : std::uint8_t { Red, Bold, Dim, Reset };

// What the platform can tell about standard error.
struct TerminalInfo {
  // A terminal that takes escape sequences (possibly after switching them on).
  bool takesEscapes = false;
  // A pipe that stands for the pseudo-terminal of msys or cygwin.
  bool pseudoTerminalPipe = false;
  // A console whose text attributes can be read and set.
  bool hasConsoleAttributes = false;
  // The attribute word that was current when standard error was inspected.
  std::uint16_t savedAttributes = 0;
};

// Platform side: inspects standard error. Never fails; anything that cannot
// be inspected reads as "not a terminal".
TerminalInfo inspectStandardError(const Environment& environment);
// Platform side: sets the console's attribute word (no-op without consoles).
void setConsoleAttributes(std::uint16_t attributes);

// The first matching rule wins: NO_COLOR (any case, any value), a terminal
// that takes escape sequences, a pseudo-terminal pipe, a console with
// attributes, CLICOLOR_FORCE (any case where the system ignores the case
// of names); otherwise none.
ColorMode chooseColorMode(const Environment& environment, const TerminalInfo& terminal);

// The same choice, with standard error inspected only when NO_COLOR is
// absent: a run with NO_COLOR never touches the console (inspecting may
// switch escape sequences on).
ColorMode chooseColorMode(const Environment& environment, FunctionRef<TerminalInfo()> inspect);

// Whether the name of a named pipe (as the system reports it, without the
// "\\.\pipe" part) is that of an msys or cygwin pseudo-terminal: it
// begins with "\msys-" or "\cygwin-" and contains "-pty".
bool isPseudoTerminalPipeName(std::u16string_view name);

// The bytes a style writes in escape-sequence mode.
std::string_view escapeSequence(Style style);

// The attribute word a style sets in console-attribute mode, from the word
// set last (`current`) and the one saved when the mode was chosen: each
// step changes only its part of the word, since the console takes a whole
// word at a time. Red and dim replace the text's colour, bold adds
// intensity to it, the background stays; reset gives back the saved word.
std::uint16_t attributeWord(Style style, std::uint16_t current, std::uint16_t saved);

}  // namespace hushmark
