// How the fallback error line is styled on standard error.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/environment.h"

namespace hushmark {

enum class ColorMode : std::uint8_t { None, EscapeSequences, ConsoleAttributes };

enum class Style : std::uint8_t { Red, Bold, Dim, Reset };

// What the platform can tell about standard error.
struct TerminalInfo {
  // A terminal that takes escape sequences (possibly after switching them on).
  bool takesEscapes = false;
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
// that takes escape sequences, a console with attributes, CLICOLOR_FORCE.
ColorMode chooseColorMode(const Environment& environment, const TerminalInfo& terminal);

// The bytes a style writes in escape-sequence mode.
std::string_view escapeSequence(Style style);

// The attribute word a style sets in console-attribute mode.
std::uint16_t attributeWord(Style style, std::uint16_t saved);

}  // namespace hushmark
