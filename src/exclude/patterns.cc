#include "exclude/patterns.h"

#include <new>
#include <unordered_map>
#include <vector>

#include "exclude/lines.h"
#include "runtime/text.h"

namespace hushmark {

namespace {

// The distinct non-empty normalised arguments, in order of first appearance,
// with a fast test for "might this line be one of them": a line whose length
// no argument has is rejected without hashing, which is nearly every line of
// a large file.
class PatternSet {
 public:
  // Throws std::bad_alloc; callers turn that into OutOfMemory.
  explicit PatternSet(std::span<const std::string_view> arguments) {
    for (std::string_view argument : arguments) {
      std::string_view pattern = normalizePattern(argument);
      if (pattern.empty()) continue;
      if (index_.try_emplace(pattern, patterns_.size()).second) {
        patterns_.push_back(pattern);
        if (pattern.size() >= lengths_.size()) lengths_.resize(pattern.size() + 1, false);
        lengths_[pattern.size()] = true;
      }
    }
  }

  bool empty() const { return patterns_.empty(); }
  std::size_t size() const { return patterns_.size(); }
  std::string_view operator[](std::size_t i) const { return patterns_[i]; }

  // The index of the pattern equal to `line`, if any.
  std::optional<std::size_t> find(std::string_view line) const {
    if (line.size() >= lengths_.size() || !lengths_[line.size()]) return std::nullopt;
    auto found = index_.find(line);
    if (found == index_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::vector<std::string_view> patterns_;
  std::unordered_map<std::string_view, std::size_t> index_;
  std::vector<bool> lengths_;
};

// Content whose lines, each followed by one LF, give back the same bytes.
bool inWrittenForm(std::string_view content) {
  return content.empty() ||
         (content.back() == '\n' && content.find("\r\n") == std::string_view::npos);
}

Status appendLine(ByteBuffer& out, std::string_view line) {
  if (auto added = out.append(line); !added) return added;
  return out.append('\n');
}

Result<std::optional<NewContent>> addPatternsOrThrow(std::string_view content,
                                                     std::span<const std::string_view> arguments) {
  PatternSet patterns(arguments);
  if (patterns.empty()) return std::nullopt;
  std::vector<bool> present(patterns.size(), false);
  std::size_t missing = patterns.size();
  ExcludeLineIterator lines(content);
  while (missing > 0) {
    auto line = lines.next();
    if (!line) break;
    auto found = patterns.find(*line);
    if (found && !present[*found]) {
      present[*found] = true;
      --missing;
    }
  }
  if (missing == 0) return std::nullopt;

  NewContent result;
  if (inWrittenForm(content)) {
    result.kept = content;
  } else {
    if (auto reserved = result.rest.reserveExtra(content.size() + 1); !reserved) {
      return fail(reserved.error());
    }
    ExcludeLineIterator all(content);
    while (auto line = all.next()) {
      if (auto added = appendLine(result.rest, *line); !added) return fail(added.error());
    }
  }
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (present[i]) continue;
    if (auto added = appendLine(result.rest, patterns[i]); !added) return fail(added.error());
  }
  return result;
}

Result<std::optional<NewContent>> removePatternsOrThrow(
    std::string_view content, std::span<const std::string_view> arguments) {
  PatternSet patterns(arguments);
  if (patterns.empty()) return std::nullopt;
  // First find out whether anything goes at all; most runs that change
  // nothing then cost no copy.
  bool changed = false;
  ExcludeLineIterator probe(content);
  while (auto line = probe.next()) {
    if (patterns.find(*line)) {
      changed = true;
      break;
    }
  }
  if (!changed) return std::nullopt;

  NewContent result;
  if (auto reserved = result.rest.reserveExtra(content.size() + 1); !reserved) {
    return fail(reserved.error());
  }
  ExcludeLineIterator lines(content);
  while (auto line = lines.next()) {
    if (patterns.find(*line)) continue;
    if (auto added = appendLine(result.rest, *line); !added) return fail(added.error());
  }
  return result;
}

}  // namespace

std::string_view normalizePattern(std::string_view argument) {
  return trimBytes(argument, blanksAndLineEnds);
}

Result<std::optional<NewContent>> addPatterns(std::string_view content,
                                              std::span<const std::string_view> arguments) {
  try {
    return addPatternsOrThrow(content, arguments);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

Result<std::optional<NewContent>> removePatterns(std::string_view content,
                                                 std::span<const std::string_view> arguments) {
  try {
    return removePatternsOrThrow(content, arguments);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace hushmark
