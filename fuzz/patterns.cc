// The line model and the pattern edits, checked by their properties over
// arbitrary content and arguments (the input: a seed byte for where the
// content is cut into pieces, then NUL-separated fields, the content first
// and then the arguments):
// - addPatterns keeps every old line in order and appends each missing
//   normalised argument once; adding again changes nothing;
// - removePatterns keeps every line that equals no normalised argument, in
//   order, and no other;
// - the piecewise scan of hide and unhide, fed the content in whole-line
//   pieces cut anywhere, agrees with those whole-content edits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "exclude/lines.h"
#include "exclude/patterns.h"

namespace {

using namespace hushmark;

void check(bool holds) {
  if (!holds) std::abort();
}

std::vector<std::string> linesOf(std::string_view content) {
  std::vector<std::string> lines;
  ExcludeLineIterator iterator(content);
  while (auto line = iterator.next()) lines.emplace_back(*line);
  return lines;
}

std::string written(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
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
  const std::vector<std::string> oldLines = linesOf(content);
  const std::set<std::string> oldSet(oldLines.begin(), oldLines.end());

  // What addPatterns must append, and which lines removePatterns drops.
  std::vector<std::string> missing;
  std::set<std::string> wanted;
  bool anyInnerLineFeed = false;
  for (std::string_view argument : arguments) {
    std::string pattern(normalizePattern(argument));
    check(normalizePattern(pattern) == pattern);
    if (pattern.empty()) continue;
    anyInnerLineFeed = anyInnerLineFeed || pattern.find('\n') != std::string::npos;
    wanted.insert(pattern);
    if (oldSet.contains(pattern)) continue;
    bool again = false;
    for (const std::string& each : missing) again = again || each == pattern;
    if (!again) missing.push_back(pattern);
  }

  auto added = addPatterns(content, arguments);
  check(added.has_value());
  std::string afterAdd = written(oldLines);
  for (const std::string& pattern : missing) afterAdd += pattern + "\n";
  if (missing.empty()) {
    check(!*added);
  } else {
    check(*added && (*added)->str() == afterAdd);
    if (!anyInnerLineFeed) {
      auto twice = addPatterns(afterAdd, arguments);
      check(twice && !*twice);
    }
  }

  auto removed = removePatterns(content, arguments);
  check(removed.has_value());
  std::vector<std::string> keptLines;
  for (const std::string& line : oldLines) {
    if (!wanted.contains(line)) keptLines.push_back(line);
  }
  if (keptLines.size() == oldLines.size()) {
    check(!*removed);
  } else {
    check(*removed && (*removed)->str() == written(keptLines));
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
  std::string expectedAppend;
  for (const std::string& pattern : missing) expectedAppend += pattern + "\n";
  check(appended.view() == expectedAppend);

  // unhide's piecewise scan: the bytes around the matching lines, piece by
  // piece, are what removePatterns keeps (for content in written form).
  if (inWrittenForm(content)) {
    std::string kept;
    for (std::string_view piece : pieces) {
      std::size_t from = 0;
      bool whole = scan->forEachMatchingLine(piece, [&](std::size_t start, std::size_t end) {
        check(start >= from && end > start && end <= piece.size());
        kept += piece.substr(from, start - from);
        from = end;
        return true;
      });
      check(whole);
      kept += piece.substr(from);
    }
    check(kept == written(keptLines));
  }
  return 0;
}
