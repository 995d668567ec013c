#include "exclude/patterns.h"

#include <cstring>
#include <new>

#include "base/bytes.h"
#include "base/text.h"
#include "exclude/lines.h"

namespace hushmark {

namespace {

// Up to this many patterns are searched for one by one; more are looked up
// line by line.
constexpr std::size_t maxSearchedPatterns = 8;

// Appends a line and its LF. A line that still ends in CR gets one more
// before the LF, which Git drops, so that Git reads the line as before.
Status appendLine(ByteBuffer& out, std::string_view line) {
  if (auto added = out.append(line); !added) return added;
  if (line.ends_with('\r')) {
    if (auto added = out.append('\r'); !added) return added;
  }
  return out.append('\n');
}

// Whether the line starting at `start` of `lines` reads to Git as
// `pattern`: the pattern's bytes, then only spaces that Git trims, and then
// a NUL (where Git stops reading the line), or at most one CR and the LF or
// the end.
bool lineEquals(std::string_view lines, std::size_t start, std::string_view pattern) {
  if (lines.size() - start < pattern.size()) return false;
  if (std::memcmp(lines.data() + start, pattern.data(), pattern.size()) != 0) return false;
  std::size_t end = start + pattern.size();
  std::size_t spaces = end;
  while (end < lines.size() && lines[end] == ' ') ++end;
  // A backslash at the pattern's end escapes the first space behind it.
  if (end > spaces && endsInEscape(pattern)) return false;
  if (end < lines.size() && lines[end] == '\0') return true;
  if (end < lines.size() && lines[end] == '\r') ++end;
  return end == lines.size() || lines[end] == '\n';
}

}  // namespace

std::string_view normalizePattern(std::string_view argument) {
  std::string_view pattern = trimBytes(argument, blanksAndLineEnds);
  if (pattern.empty()) return pattern;
  // Git keeps a trailing space that a backslash escapes, so the trim stops
  // at the first trimmed byte when it is a space behind an odd number of
  // backslashes. No later byte can be escaped: blanks stand before it.
  std::size_t start = static_cast<std::size_t>(pattern.data() - argument.data());
  std::size_t end = start + pattern.size();
  if (end == argument.size() || argument[end] != ' ') return pattern;
  return endsInEscape(pattern) ? argument.substr(start, pattern.size() + 1) : pattern;
}

bool inWrittenForm(std::string_view content) {
  return content.empty() ||
         (content.back() == '\n' && content.find("\r\n") == std::string_view::npos);
}

Result<PresenceScan> PresenceScan::make(std::span<const std::string_view> arguments) {
  try {
    PresenceScan scan;
    for (std::string_view argument : arguments) {
      // An argument holds one pattern per line.
      for (std::size_t from = 0; from <= argument.size();) {
        std::size_t lineFeed = argument.find('\n', from);
        if (lineFeed == std::string_view::npos) lineFeed = argument.size();
        std::string_view pattern = normalizePattern(argument.substr(from, lineFeed - from));
        from = lineFeed + 1;
        if (pattern.empty()) continue;
        if (!scan.index_.try_emplace(pattern, scan.patterns_.size()).second) continue;
        scan.patterns_.push_back(pattern);
        if (pattern.size() >= scan.lengths_.size()) {
          scan.lengths_.resize(pattern.size() + 1, false);
        }
        scan.lengths_[pattern.size()] = true;
      }
    }
    scan.present_.assign(scan.patterns_.size(), false);
    scan.missing_ = scan.patterns_.size();
    if (scan.patterns_.size() <= maxSearchedPatterns) {
      scan.needles_.reserve(scan.patterns_.size());
      for (std::string_view pattern : scan.patterns_) {
        std::string& needle = scan.needles_.emplace_back();
        needle.reserve(pattern.size() + 1);
        needle.push_back('\n');
        needle.append(pattern);
      }
      // The searches refer to the needles, which stay where they are from
      // now on: the vector is never changed again, and moving it moves no
      // element.
      scan.searches_.reserve(scan.needles_.size());
      for (const std::string& needle : scan.needles_) scan.searches_.emplace_back(needle);
    }
    return scan;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

void PresenceScan::markPresent(std::size_t index) {
  if (present_[index]) return;
  present_[index] = true;
  --missing_;
}

void PresenceScan::scan(std::string_view lines) {
  if (atFileStart_ && !lines.empty()) {
    lines.remove_prefix(leadingByteOrderMark(lines).size());
    atFileStart_ = false;
  }
  if (missing_ == 0 || lines.empty()) return;
  if (!needles_.empty()) {
    scanByPattern(lines);
  } else {
    scanByLine(lines);
  }
}

void PresenceScan::scanByPattern(std::string_view lines) {
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (present_[i]) continue;
    std::string_view pattern = patterns_[i];
    if (lineEquals(lines, 0, pattern)) {
      markPresent(i);
      continue;
    }
    std::size_t from = 0;
    for (;;) {
      std::size_t hit = searches_[i].find(lines, from);
      if (hit == notFound) break;
      std::size_t start = hit + 1;
      if (lineEquals(lines, start, pattern)) {
        markPresent(i);
        break;
      }
      from = start;
    }
  }
}

std::optional<std::size_t> PresenceScan::find(std::string_view line) const {
  if (line.size() >= lengths_.size() || !lengths_[line.size()]) return std::nullopt;
  auto found = index_.find(line);
  if (found == index_.end()) return std::nullopt;
  return found->second;
}

void PresenceScan::scanByLine(std::string_view lines) {
  ExcludeLineIterator iterator(lines);
  const bool nuls = holdsNul(lines);
  while (missing_ > 0) {
    auto line = iterator.next();
    if (!line) return;
    if (auto found = find(patternOfReadLine(nuls ? lineAsRead(*line) : *line))) markPresent(*found);
  }
}

// Where the first line that may equal a pattern starts: no line before it
// does. With few patterns the search for each one skips through the text;
// with many every line is a candidate.
std::size_t PresenceScan::firstCandidate(std::string_view lines) const {
  if (needles_.empty()) return 0;
  std::size_t first = notFound;
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (lineEquals(lines, 0, patterns_[i])) return 0;
    // Only the text before the earliest candidate so far needs a look.
    std::string_view searched =
        first == notFound ? lines : lines.substr(0, first - 1 + needles_[i].size());
    std::size_t hit = searches_[i].find(searched);
    if (hit != notFound) first = hit + 1;
  }
  return first;
}

bool PresenceScan::forEachMatchingLine(std::string_view lines,
                                       FunctionRef<bool(std::size_t, std::size_t)> found) const {
  if (patterns_.empty()) return true;
  std::size_t start = firstCandidate(lines);
  if (start == notFound) return true;
  while (start < lines.size()) {
    std::size_t lineFeed = lines.find('\n', start);
    std::size_t end = lineFeed == std::string_view::npos ? lines.size() : lineFeed + 1;
    std::size_t length = (lineFeed == std::string_view::npos ? lines.size() : lineFeed) - start;
    if (length > 0 && lines[start + length - 1] == '\r') --length;
    if (find(patternOfLine(lines.substr(start, length))) && !found(start, end)) return false;
    start = end;
  }
  return true;
}

Status PresenceScan::appendMissing(ByteBuffer& out) const {
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (present_[i]) continue;
    // The first line of an empty file: Git would skip the mark's bytes at
    // its start, unless a mark stands in front of them.
    if (atFileStart_ && out.empty() && patterns_[i].starts_with(byteOrderMark)) {
      if (auto added = out.append(byteOrderMark); !added) return added;
    }
    if (auto added = appendLine(out, patterns_[i]); !added) return added;
  }
  return {};
}

Result<std::optional<NewContent>> addPatterns(std::string_view content,
                                              std::span<const std::string_view> arguments) {
  auto scan = PresenceScan::make(arguments);
  if (!scan) return fail(scan.error());
  if (scan->empty()) return std::nullopt;
  scan->scan(content);
  if (scan->allPresent()) return std::nullopt;

  NewContent result;
  if (inWrittenForm(content)) {
    result.kept = content;
  } else {
    if (auto reserved = result.rest.reserveExtra(content.size() + 1); !reserved) {
      return fail(reserved.error());
    }
    std::string_view mark = leadingByteOrderMark(content);
    (void)result.rest.append(mark);
    ExcludeLineIterator lines(content.substr(mark.size()));
    while (auto line = lines.next()) {
      if (auto added = appendLine(result.rest, *line); !added) return fail(added.error());
    }
  }
  if (auto added = scan->appendMissing(result.rest); !added) return fail(added.error());
  return result;
}

Result<std::optional<NewContent>> removePatterns(std::string_view content,
                                                 std::span<const std::string_view> arguments) {
  auto scan = PresenceScan::make(arguments);
  if (!scan) return fail(scan.error());
  if (scan->empty()) return std::nullopt;
  // First find out whether anything goes at all: a run that changes nothing
  // then costs no copy.
  scan->scan(content);
  if (!scan->anyPresent()) return std::nullopt;

  NewContent result;
  if (auto reserved = result.rest.reserveExtra(content.size() + 1 + byteOrderMark.size());
      !reserved) {
    return fail(reserved.error());
  }
  std::string_view mark = leadingByteOrderMark(content);
  (void)result.rest.append(mark);
  ExcludeLineIterator lines(content.substr(mark.size()));
  while (auto line = lines.next()) {
    if (scan->contains(*line)) continue;
    // A line that now comes first and begins with the mark's bytes gets a
    // mark in front, which Git skips in its place.
    if (result.rest.empty() && line->starts_with(byteOrderMark)) {
      (void)result.rest.append(byteOrderMark);
    }
    if (auto added = appendLine(result.rest, *line); !added) return fail(added.error());
  }
  return result;
}

}  // namespace hushmark
