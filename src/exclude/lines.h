// How the exclude file is read, by the rules Git reads it with: a UTF-8
// byte order mark at the start of the file belongs to no line; the content
// is split on LF, and one CR before the LF (or at the end of the content)
// ends the line with it; Git reads a line only up to its first NUL byte,
// and a line's pattern is what it reads less the trailing spaces. A final
// LF opens no further line; empty content has no lines. A line is written
// back with every byte it has, a NUL and what follows included.
#pragma once

#include <cstring>
#include <optional>
#include <string_view>

namespace hushmark {

inline constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// The byte order mark at the start of the file's content, or nothing.
inline std::string_view leadingByteOrderMark(std::string_view content) {
  return content.starts_with(byteOrderMark) ? byteOrderMark : std::string_view();
}

class ExcludeLineIterator {
 public:
  // `content` starts at a line: a byte order mark is set aside by the caller.
  explicit ExcludeLineIterator(std::string_view content) : content_(content) {}

  // The next line, a view into the content, or nullopt after the last.
  std::optional<std::string_view> next() {
    if (position_ >= content_.size()) return std::nullopt;
    const char* start = content_.data() + position_;
    std::size_t remaining = content_.size() - position_;
    const void* lineFeed = std::memchr(start, '\n', remaining);
    std::size_t length = lineFeed == nullptr
                             ? remaining
                             : static_cast<std::size_t>(static_cast<const char*>(lineFeed) - start);
    position_ += lineFeed == nullptr ? remaining : length + 1;
    if (length > 0 && start[length - 1] == '\r') --length;
    return std::string_view(start, length);
  }

 private:
  std::string_view content_;
  std::size_t position_ = 0;
};

// Whether `text` ends in an odd run of backslashes, which escapes the byte
// that would follow.
inline bool endsInEscape(std::string_view text) {
  std::size_t backslashes = 0;
  while (backslashes < text.size() && text[text.size() - 1 - backslashes] == '\\') ++backslashes;
  return backslashes % 2 == 1;
}

// What Git reads of a line: the bytes before its first NUL.
inline std::string_view lineAsRead(std::string_view line) {
  if (line.empty()) return line;
  const void* nul = std::memchr(line.data(), '\0', line.size());
  if (nul == nullptr) return line;
  return line.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
}

// Whether NUL bytes stand anywhere in `bytes`: where none does, every line
// is read whole, and the search per line can be spared.
inline bool holdsNul(std::string_view bytes) {
  return !bytes.empty() && std::memchr(bytes.data(), '\0', bytes.size()) != nullptr;
}

// The pattern of what Git reads of a line (see lineAsRead): those bytes less
// the trailing spaces, except that a space escaped by a backslash stays, and
// ends the trim.
inline std::string_view patternOfReadLine(std::string_view read) {
  if (!read.ends_with(' ')) return read;  // nearly every line: kept cheap
  std::size_t end = read.size() - 1;
  while (end > 0 && read[end - 1] == ' ') --end;
  return read.substr(0, endsInEscape(read.substr(0, end)) ? end + 1 : end);
}

// The pattern Git reads from a line.
inline std::string_view patternOfLine(std::string_view line) {
  return patternOfReadLine(lineAsRead(line));
}

// Whether Git takes what it reads of a line as a pattern: a line whose
// first byte is `#` is a comment, and one whose pattern is empty is blank.
inline bool isPatternLine(std::string_view read) {
  return !read.starts_with('#') && !patternOfReadLine(read).empty();
}

}  // namespace hushmark
