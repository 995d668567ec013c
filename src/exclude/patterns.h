// The edits of the exclude file's content, as pure functions of the old
// content and the pattern arguments.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/buffer.h"
#include "runtime/error.h"

namespace hushmark {

// The argument without leading and trailing spaces, tabs, CRs and LFs.
std::string_view normalizePattern(std::string_view argument);

// New content for the exclude file: `kept`, a view into the old content that
// is already in written form (every line ended by exactly one LF), followed
// by the owned bytes of `rest`. Keeping the unchanged bytes as a view spares
// copying a large file that only gains a line.
struct NewContent {
  std::string_view kept;
  ByteBuffer rest;

  std::string str() const { return std::string(kept) + std::string(rest.view()); }
};

// Every old line, each ended by one LF, followed by each normalised
// argument that is neither empty nor already a line nor an earlier argument,
// each ended by one LF. nullopt (no change) when nothing is added.
Result<std::optional<NewContent>> addPatterns(std::string_view content,
                                              std::span<const std::string_view> arguments);

// Every old line that equals no normalised argument, each ended by one LF.
// nullopt (no change) when no line is dropped.
Result<std::optional<NewContent>> removePatterns(std::string_view content,
                                                 std::span<const std::string_view> arguments);

}  // namespace hushmark
