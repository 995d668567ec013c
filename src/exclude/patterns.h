// The edits of the exclude file's content, as pure functions of the old
// content and the pattern arguments, and the search that tells which
// patterns already stand in the file.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/buffer.h"
#include "base/bytes.h"
#include "base/error.h"
#include "base/function_ref.h"
#include "exclude/lines.h"

namespace hushmark {

// The argument without leading and trailing spaces, tabs, CRs and LFs,
// except that a trailing space escaped by a backslash (an odd number of
// backslashes before it) stays, as Git matches it, and ends the trim.
std::string_view normalizePattern(std::string_view argument);

// The distinct non-empty patterns of the arguments, in order of first
// appearance, and which of them stand as a line of the exclude file. An
// argument holds one pattern per line: it is cut at its LFs, and each piece
// is normalised. A line stands for a pattern when Git reads it as that
// pattern (see patternOfLine). The content may be fed in pieces, each made
// of whole lines (every piece but the file's last ends with LF), so a large
// file need not be held in memory.
class PresenceScan {
 public:
  static Result<PresenceScan> make(std::span<const std::string_view> arguments);
  PresenceScan(PresenceScan&&) = default;
  PresenceScan& operator=(PresenceScan&&) = default;
  PresenceScan(const PresenceScan&) = delete;
  PresenceScan& operator=(const PresenceScan&) = delete;

  // No argument that could be added or removed.
  bool empty() const { return patterns_.empty(); }
  bool allPresent() const { return missing_ == 0; }
  bool anyPresent() const { return missing_ < patterns_.size(); }
  // Whether Git reads `line` (as ExcludeLineIterator yields it) as one of
  // the patterns.
  bool contains(std::string_view line) const { return find(patternOfLine(line)).has_value(); }

  // Marks every pattern that a line of `lines` stands for. The first call's
  // `lines` start the file: a byte order mark there belongs to no line.
  void scan(std::string_view lines);

  // Appends every pattern not seen in the file, each followed by one LF.
  // When no byte of the file was scanned (it is empty) and the first of them
  // begins with the bytes of a byte order mark, a mark goes in front, since
  // Git skips one at the start of the file.
  Status appendMissing(ByteBuffer& out) const;

  // Calls `found` with the start and end offset in `lines` of every line
  // that stands for a pattern, in order; the end lies behind the line's LF
  // (at the end of `lines` for a last line without one). Stops as soon as
  // `found` returns false, and then returns false. `lines` start at a line:
  // a byte order mark is set aside by the caller.
  bool forEachMatchingLine(std::string_view lines,
                           FunctionRef<bool(std::size_t, std::size_t)> found) const;

 private:
  PresenceScan() = default;
  void scanByPattern(std::string_view lines);
  void scanByLine(std::string_view lines);
  void markPresent(std::size_t index);
  std::optional<std::size_t> find(std::string_view line) const;
  std::size_t firstCandidate(std::string_view lines) const;

  std::vector<std::string_view> patterns_;
  std::vector<bool> present_;
  std::size_t missing_ = 0;
  bool atFileStart_ = true;
  // For a few patterns: each pattern with an LF in front, searched for as a
  // whole, which skips through a large file far faster than cutting it into
  // lines. For many: a hash lookup of the lines whose length some pattern
  // has.
  std::vector<std::string> needles_;
  std::vector<ByteSearch> searches_;
  std::unordered_map<std::string_view, std::size_t> index_;
  std::vector<bool> lengths_;
};

// Whether the content, rewritten line by line, gives back exactly the same
// bytes: no CR stands before an LF and the last line has its LF.
bool inWrittenForm(std::string_view content);

// New content for the exclude file: `kept`, a view into the old content that
// is already in written form (every line ended by exactly one LF), followed
// by the owned bytes of `rest`. Keeping the unchanged bytes as a view spares
// copying a large file that only gains a line. A rewrite keeps a byte order
// mark first, and writes back a line that still ends in CR with a CR before
// its LF, so that Git reads every line it keeps as before.
struct NewContent {
  std::string_view kept;
  ByteBuffer rest;

  std::string str() const { return std::string(kept) + std::string(rest.view()); }
};

// Every old line, each ended by one LF, followed by each pattern of the
// arguments that is neither empty nor already a line nor an earlier one,
// each ended by one LF. nullopt (no change) when nothing is added.
Result<std::optional<NewContent>> addPatterns(std::string_view content,
                                              std::span<const std::string_view> arguments);

// Every old line that stands for no pattern of the arguments, each ended by
// one LF. nullopt (no change) when no line is dropped.
Result<std::optional<NewContent>> removePatterns(std::string_view content,
                                                 std::span<const std::string_view> arguments);

}  // namespace hushmark
