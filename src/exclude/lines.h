// The one rule by which the exclude file is cut into lines: split on LF,
// every CR at the end of a line removed, nothing else touched. A final LF
// opens no further line; empty content has no lines.
#pragma once

#include <cstring>
#include <optional>
#include <string_view>

namespace hushmark {

class ExcludeLineIterator {
 public:
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
    while (length > 0 && start[length - 1] == '\r') --length;
    return std::string_view(start, length);
  }

 private:
  std::string_view content_;
  std::size_t position_ = 0;
};

}  // namespace hushmark
