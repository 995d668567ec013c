#include "runtime/log.h"

#include <mutex>
#include <optional>

#include "runtime/color.h"
#include "runtime/output.h"

namespace hushmark {

namespace {

// Held while the line is written; re-entrant so that a nested report from
// the same thread cannot deadlock.
std::recursive_mutex& standardErrorLock() {
  static std::recursive_mutex lock;
  return lock;
}

struct StyleState {
  ColorMode mode = ColorMode::None;
  std::uint16_t saved = 0;
};

// Chosen at the first line and kept for the rest of the run.
const StyleState& styleState() {
  static const StyleState state = [] {
    const Environment& environment = processEnvironment();
    StyleState chosen;
    chosen.mode = chooseColorMode(environment, [&] {
      TerminalInfo terminal = inspectStandardError(environment);
      chosen.saved = terminal.savedAttributes;
      return terminal;
    });
    return chosen;
  }();
  return state;
}

// `current`: the console's attribute word as this line last set it.
void applyStyle(BufferedWriter& writer, const StyleState& state, std::uint16_t& current,
                Style style) {
  switch (state.mode) {
    case ColorMode::None:
      return;
    case ColorMode::EscapeSequences:
      writer.write(escapeSequence(style));
      return;
    case ColorMode::ConsoleAttributes:
      // Text and attribute changes must reach the console in order.
      (void)writer.flush();
      current = attributeWord(style, current, state.saved);
      setConsoleAttributes(current);
      return;
  }
}

}  // namespace

void logError(std::initializer_list<std::string_view> pieces) {
  std::lock_guard guard(standardErrorLock());
  const StyleState& state = styleState();
  char storage[64];
  BufferedWriter writer(standardError(), storage, sizeof storage);
  std::uint16_t current = state.saved;
  applyStyle(writer, state, current, Style::Red);
  applyStyle(writer, state, current, Style::Bold);
  writer.write("error");
  applyStyle(writer, state, current, Style::Reset);
  applyStyle(writer, state, current, Style::Dim);
  applyStyle(writer, state, current, Style::Bold);
  writer.write(": ");
  applyStyle(writer, state, current, Style::Reset);
  for (std::string_view piece : pieces) writer.write(piece);
  writer.write("\n");
  (void)writer.flush();
}

}  // namespace hushmark
