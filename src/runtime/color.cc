#include "runtime/color.h"

namespace hushmark {

ColorMode chooseColorMode(const Environment& environment, const TerminalInfo& terminal) {
  if (environment.hasIgnoringCase("NO_COLOR")) return ColorMode::None;
  if (terminal.takesEscapes) return ColorMode::EscapeSequences;
  if (terminal.hasConsoleAttributes) return ColorMode::ConsoleAttributes;
  if (environment.get("CLICOLOR_FORCE")) return ColorMode::EscapeSequences;
  return ColorMode::None;
}

std::string_view escapeSequence(Style style) {
  switch (style) {
    case Style::Red:
      return "\x1b[31m";
    case Style::Bold:
      return "\x1b[1m";
    case Style::Dim:
      return "\x1b[2m";
    case Style::Reset:
      return "\x1b[0m";
  }
  return {};
}

std::uint16_t attributeWord(Style style, std::uint16_t saved) {
  switch (style) {
    case Style::Red:
      return 4;
    case Style::Bold:
      return 15;
    case Style::Dim:
      return 8;
    case Style::Reset:
      return saved;
  }
  return saved;
}

}  // namespace hushmark
