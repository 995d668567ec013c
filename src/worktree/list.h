// The list command: every hidden pattern, then every frozen path, as
// tab-separated lines on standard output.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"

namespace hushmark {

Status listCommand();

// Appends "hide\t<line>\n" for every line of the exclude file's content
// that Git reads as a pattern (neither a comment nor blank), as the line
// stands in the file, its blanks included.
Status appendHiddenPatterns(ByteBuffer& out, std::string_view excludeContent);

// Appends "freeze\t<path>\n" for every NUL-ended entry of
// "git ls-files -v -z" output whose tag is "S " or "s " (skip-worktree, the
// latter also assume-unchanged), in Git's order. A path that holds a line
// feed or begins with a double quote is written in C-style quotes, so that
// every entry stays one line; every other path is written as it is.
Status appendFrozenPaths(ByteBuffer& out, std::string_view lsFilesOutput);

// The same for output that arrives in pieces cut anywhere, an entry split
// across two pieces included; what is not listed is not kept. The listed
// entries may take at most `cap` bytes as git wrote them (StreamTooLong
// beyond), so memory follows what is listed, not the size of the index.
class FrozenPathFilter {
 public:
  FrozenPathFilter(ByteBuffer& out, std::size_t cap) : out_(out), left_(cap) {}

  Status take(std::string_view piece);
  // The last entry, when the output does not end with a NUL.
  Status finish();

 private:
  Status entry(std::string_view bytes);
  Status checkPartial();

  ByteBuffer& out_;
  std::size_t left_;
  // The start of an entry that the last piece did not end.
  ByteBuffer partial_;
  // The rest of the current entry is not listed and need not be kept.
  bool skipping_ = false;
};

}  // namespace hushmark
