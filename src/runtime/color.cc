#include "runtime/color.h"

namespace hushmark {

ColorMode chooseColorMode(const Environment& environment, const TerminalInfo& terminal) {
  if (environment.hasIgnoringCase("NO_COLOR")) return ColorMode::None;
  if (terminal.takesEscapes) return ColorMode::EscapeSequences;
  if (terminal.pseudoTerminalPipe) return ColorMode::EscapeSequences;
  if (terminal.hasConsoleAttributes) return ColorMode::ConsoleAttributes;
  if (environment.has("CLICOLOR_FORCE")) return ColorMode::EscapeSequences;
  return ColorMode::None;
}

ColorMode chooseColorMode(const Environment& environment, FunctionRef<TerminalInfo()> inspect) {
  if (environment.hasIgnoringCase("NO_COLOR")) return ColorMode::None;
  return chooseColorMode(environment, inspect());
}

bool isPseudoTerminalPipeName(std::u16string_view name) {
  return (name.starts_with(u"\\msys-") || name.starts_with(u"\\cygwin-")) &&
         name.find(u"-pty") != std::u16string_view::npos;
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

std::uint16_t attributeWord(Style style, std::uint16_t current, std::uint16_t saved) {
  // The low four bits are the text's colour, intensity the highest of them;
  // the rest (the background among them) stays as it is.
  constexpr std::uint16_t foreground = 0x000F;
  constexpr std::uint16_t red = 0x0004;
  constexpr std::uint16_t intensity = 0x0008;
  switch (style) {
    case Style::Red:
      return static_cast<std::uint16_t>((current & ~foreground) | red);
    case Style::Bold:
      return static_cast<std::uint16_t>(current | intensity);
    case Style::Dim:
      // Grey: intensity alone.
      return static_cast<std::uint16_t>((current & ~foreground) | intensity);
    case Style::Reset:
      return saved;
  }
  return saved;
}

}  // namespace hushmark
