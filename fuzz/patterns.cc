// The pattern edits, checked by their properties over arbitrary content and
// arguments against a plain model of how Git reads the file (the input: a
// seed byte for where the content is cut into pieces, then NUL-separated
// fields, the content first and then the arguments):
// - addPatterns keeps every old line as Git reads it, in order, and appends
//   each missing pattern of the arguments once; adding again changes nothing;
// - removePatterns keeps, as Git reads them, exactly the lines whose pattern
//   is none of the arguments', in order;
// - the piecewise scan of hide and unhide, fed the content in whole-line
//   pieces cut anywhere, agrees with those whole-content edits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "exclude/patterns.h"

namespace {

using namespace hushmark;

void check(bool holds) {
  if (!holds) std::abort();
}

const std::string bom = "\xEF\xBB\xBF";

// The lines as Git reads them: one byte order mark skipped at the start,
// the content split on LF (the last line ended by one if it lacks it), and
// one CR before each LF dropped.
std::vector<std::string> gitLines(std::string_view content) {
  std::string text(content.starts_with(bom) ? content.substr(bom.size()) : content);
  if (!text.empty() && text.back() != '\n') text += '\n';
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A line's pattern: trailing spaces dropped, from the first of a run of
// spaces that no backslash escapes and nothing but spaces follows.
std::string gitPattern(std::string line) {
  std::size_t firstSpace = std::string::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ') {
      if (firstSpace == std::string::npos) firstSpace = i;
      continue;
    }
    if (line[i] == '\\' && ++i == line.size()) return line;
    firstSpace = std::string::npos;
  }
  if (firstSpace != std::string::npos) line.resize(firstSpace);
  return line;
}

// The lines written back: each with its LF, a CR before it where the line
// still ends in CR.
std::string written(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + (line.ends_with('\r') ? "\r\n" : "\n");
  return out;
}

// A new file: the old file's mark, then the lines. A file without one gets
// a mark when its first line begins with the mark's bytes.
std::string withMark(std::string_view mark, const std::string& lines) {
  return (mark.empty() && lines.starts_with(bom) ? bom : std::string(mark)) + lines;
}

// The content cut after some of its LFs, chosen by the seed.
std::vector<std::string_view> piecesOf(std::string_view content, std::uint8_t seed) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  unsigned state = seed | 1u;
  for (std::size_t at = 0; at < content.size(); ++at) {
    if (content[at] != '\n') continue;
    state = state * 1103515245u + 12345u;
    if ((state >> 16) % 3 == 0) continue;
    pieces.push_back(content.substr(start, at + 1 - start));
    start = at + 1;
  }
  if (start < content.size()) pieces.push_back(content.substr(start));
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t seed = data[0];
  std::vector<std::string> fields(1);
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      if (fields.size() == 9) break;
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  const std::string& content = fields[0];
  std::vector<std::string_view> arguments(fields.begin() + 1, fields.end());
  const std::string_view mark = content.starts_with(bom) ? std::string_view(bom) : "";
  const std::vector<std::string> oldLines = gitLines(content);
  std::set<std::string> oldPatterns;
  for (const std::string& line : oldLines) oldPatterns.insert(gitPattern(line));

  // What addPatterns must append, and which lines removePatterns drops: an
  // argument holds one pattern per line, each normalised.
  std::vector<std::string> missing;
  std::set<std::string> wanted;
  for (std::string_view argument : arguments) {
    for (std::size_t from = 0; from <= argument.size();) {
      std::size_t end = std::min(argument.find('\n', from), argument.size());
      std::string pattern(normalizePattern(argument.substr(from, end - from)));
      from = end + 1;
      check(normalizePattern(pattern) == pattern && gitPattern(pattern) == pattern);
      if (pattern.empty() || !wanted.insert(pattern).second) continue;
      if (!oldPatterns.contains(pattern)) missing.push_back(pattern);
    }
  }

  auto added = addPatterns(content, arguments);
  check(added.has_value());
  std::vector<std::string> linesAfterAdd = oldLines;
  linesAfterAdd.insert(linesAfterAdd.end(), missing.begin(), missing.end());
  if (missing.empty()) {
    check(!*added);
  } else {
    check(*added && gitLines((*added)->str()) == linesAfterAdd);
    check((*added)->str() == withMark(mark, written(linesAfterAdd)));
    auto twice = addPatterns((*added)->str(), arguments);
    check(twice && !*twice);
  }

  auto removed = removePatterns(content, arguments);
  check(removed.has_value());
  std::vector<std::string> keptLines;
  for (const std::string& line : oldLines) {
    if (!wanted.contains(gitPattern(line))) keptLines.push_back(line);
  }
  if (keptLines.size() == oldLines.size()) {
    check(!*removed);
  } else {
    check(*removed && gitLines((*removed)->str()) == keptLines);
    check((*removed)->str() == withMark(mark, written(keptLines)));
  }

  // hide's piecewise scan: all present exactly when addPatterns adds
  // nothing; what it appends is what addPatterns appends.
  auto scan = PresenceScan::make(arguments);
  check(scan.has_value());
  const std::vector<std::string_view> pieces = piecesOf(content, seed);
  for (std::string_view piece : pieces) scan->scan(piece);
  check(scan->allPresent() == missing.empty());
  ByteBuffer appended;
  check(scan->appendMissing(appended).has_value());
  const std::string expectedAppend = written(missing);
  check(appended.view() == (content.empty() ? withMark("", expectedAppend) : expectedAppend));

  // unhide's piecewise scan: the bytes around the matching lines, piece by
  // piece, are what removePatterns keeps (for content in written form, and
  // unless they begin with the mark's bytes where the file has none).
  if (inWrittenForm(content)) {
    std::string kept;
    for (std::string_view piece : pieces) {
      std::size_t from = 0;
      if (piece.data() == content.data()) piece.remove_prefix(mark.size());
      bool whole = scan->forEachMatchingLine(piece, [&](std::size_t start, std::size_t end) {
        check(start >= from && end > start && end <= piece.size());
        kept += piece.substr(from, start - from);
        from = end;
        return true;
      });
      check(whole);
      kept += piece.substr(from);
    }
    check(withMark(mark, kept) == withMark(mark, written(keptLines)));
  }
  return 0;
}
