// Composing a Windows command line: the one string from which the started
// program's C runtime recovers its argument words. Written over any
// character type, so that the rules are tested where they are not used.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace hushmark {

namespace command_line_detail {

template <typename Char>
void appendBackslashes(std::basic_string<Char>& line, std::size_t count) {
  line.append(count, static_cast<Char>('\\'));
}

}  // namespace command_line_detail

// Appends `word` to `line` (after one blank when the line is not empty) so
// that the C runtime's splitting gives it back unchanged: a word that is
// empty or holds a blank, tab, line end or double quote is put in double
// quotes; inside them a quote is preceded by a backslash, and the
// backslashes that precede a quote or the closing quote are doubled.
// Throws std::bad_alloc like the string.
template <typename Char>
void appendCommandLineWord(std::basic_string<Char>& line, std::basic_string_view<Char> word) {
  using command_line_detail::appendBackslashes;
  if (!line.empty()) line.push_back(static_cast<Char>(' '));
  bool quote = word.empty();
  for (Char c : word) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\r' || c == '"') quote = true;
  }
  if (!quote) {
    line.append(word);
    return;
  }
  line.push_back(static_cast<Char>('"'));
  std::size_t backslashes = 0;
  for (Char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      appendBackslashes(line, backslashes * 2 + 1);
    } else {
      appendBackslashes(line, backslashes);
    }
    backslashes = 0;
    line.push_back(c);
  }
  appendBackslashes(line, backslashes * 2);
  line.push_back(static_cast<Char>('"'));
}

// Whether `word` can be handed to a batch file through cmd.exe at all: cmd
// ends its command at a line end and cannot carry a NUL.
template <typename Char>
bool batchWordCarried(std::basic_string_view<Char> word) {
  for (Char c : word) {
    if (c == '\n' || c == '\r' || c == '\0') return false;
  }
  return true;
}

// Appends `word` for a batch file run by cmd.exe, whose parsing comes before
// the C runtime's: every word that holds anything but letters, digits and a
// few harmless marks is quoted, so that cmd's operators (& | < > ^ ( ) and
// the like) stay inside quotes; a quote inside is doubled, which keeps cmd's
// quoting state and is read back as one quote; backslashes before a quote
// are doubled as for the C runtime; and every % is followed by a reference
// to an empty substring of a variable that always exists, so that no
// %NAME% inside a word is ever expanded. The caller has checked the word
// with batchWordCarried.
template <typename Char>
void appendBatchWord(std::basic_string<Char>& line, std::basic_string_view<Char> word) {
  using command_line_detail::appendBackslashes;
  if (!line.empty()) line.push_back(static_cast<Char>(' '));
  constexpr std::string_view harmless = "#$*+-./:?@\\_";
  bool quote = word.empty() || word.back() == '\\';
  for (Char c : word) {
    bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    bool ascii = static_cast<std::make_unsigned_t<Char>>(c) < 0x80;
    if (ascii && !alphanumeric && harmless.find(static_cast<char>(c)) == std::string_view::npos) {
      quote = true;
    }
  }
  if (quote) line.push_back(static_cast<Char>('"'));
  std::size_t backslashes = 0;
  for (Char c : word) {
    if (c == '\\') {
      ++backslashes;
      line.push_back(c);
      continue;
    }
    if (c == '"') {
      appendBackslashes(line, backslashes);
      line.push_back(static_cast<Char>('"'));
    } else if (c == '%') {
      for (char mark : std::string_view("%%cd:~,")) line.push_back(static_cast<Char>(mark));
    }
    backslashes = 0;
    line.push_back(c);
  }
  if (quote) {
    appendBackslashes(line, backslashes);
    line.push_back(static_cast<Char>('"'));
  }
}

}  // namespace hushmark
