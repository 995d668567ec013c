#include "worktree/list.h"

#include <cstdint>

#include "exclude/exclude_file.h"
#include "exclude/lines.h"
#include "git/exclude_path.h"
#include "git/run_git.h"
#include "runtime/output.h"

namespace hushmark {

namespace {

Status appendTagged(ByteBuffer& out, std::string_view tag, std::string_view value) {
  if (auto added = out.reserveExtra(tag.size() + value.size() + 1); !added) return added;
  (void)out.append(tag);
  (void)out.append(value);
  return out.append('\n');
}

// Whether a path must be quoted to stand as one unambiguous line: one that
// holds a line feed would read as two entries, and one that begins with a
// double quote would read as a quoted path.
bool needsQuoting(std::string_view path) {
  return path.starts_with('"') || path.find('\n') != std::string_view::npos;
}

// "freeze\t", the path in C-style quotes as Git writes it with
// core.quotePath off (only control bytes, '"' and '\\' escaped), "\n".
Status appendQuotedPath(ByteBuffer& out, std::string_view path) {
  // At most four bytes for each byte of the path, the tag, quotes and LF.
  if (auto added = out.reserveExtra(path.size() * 4 + 10); !added) return added;
  (void)out.append("freeze\t\"");
  for (char c : path) {
    auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      (void)out.append('\\');
      (void)out.append(c);
    } else if (byte >= 7 && byte <= 13) {
      (void)out.append('\\');
      (void)out.append("abtnvfr"[byte - 7]);
    } else if (byte < 0x20 || byte == 0x7f) {
      const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                            static_cast<char>('0' + ((byte >> 3) & 7)),
                            static_cast<char>('0' + (byte & 7))};
      (void)out.append(std::string_view(octal, sizeof octal));
    } else {
      (void)out.append(c);
    }
  }
  return out.append("\"\n");
}

}  // namespace

Status appendHiddenPatterns(ByteBuffer& out, std::string_view excludeContent) {
  ExcludeLineIterator lines(excludeContent.substr(leadingByteOrderMark(excludeContent).size()));
  const bool nuls = holdsNul(excludeContent);
  while (auto line = lines.next()) {
    std::string_view read = nuls ? lineAsRead(*line) : *line;
    if (!isPatternLine(read)) continue;
    if (auto added = appendTagged(out, "hide\t", read); !added) return added;
  }
  return {};
}

// Whether an entry of the listing, or its start of at least two bytes, is
// tagged as frozen: "S " marks a skip-worktree entry, "s " one that is also
// assume-unchanged.
bool isFrozenEntry(std::string_view entry) {
  return entry.starts_with("S ") || entry.starts_with("s ");
}

Status FrozenPathFilter::entry(std::string_view bytes) {
  if (!isFrozenEntry(bytes)) return {};
  // The entry counts with its NUL.
  if (bytes.size() + 1 > left_) return fail(Error::StreamTooLong);
  left_ -= bytes.size() + 1;
  std::string_view path = bytes.substr(2);
  return needsQuoting(path) ? appendQuotedPath(out_, path) : appendTagged(out_, "freeze\t", path);
}

Status FrozenPathFilter::take(std::string_view piece) {
  // First the end of an entry that an earlier piece began.
  if (skipping_ || !partial_.empty()) {
    std::size_t end = piece.find('\0');
    std::string_view head = piece.substr(0, end);
    if (!skipping_) {
      if (auto kept = partial_.append(head); !kept) return kept;
      if (end == std::string_view::npos) return checkPartial();
      if (auto listed = entry(partial_.view()); !listed) return listed;
      partial_.clear();
    }
    if (end == std::string_view::npos) return {};
    skipping_ = false;
    piece.remove_prefix(end + 1);
  }
  for (;;) {
    std::size_t end = piece.find('\0');
    if (end == std::string_view::npos) break;
    if (auto listed = entry(piece.substr(0, end)); !listed) return listed;
    piece.remove_prefix(end + 1);
  }
  // An entry that goes on in the next piece.
  if (auto kept = partial_.append(piece); !kept) return kept;
  return checkPartial();
}

// The start of an entry is kept only while the entry may still be listed,
// and fails as soon as it can no longer fit under the cap, not when its end
// arrives.
Status FrozenPathFilter::checkPartial() {
  if (partial_.size() < 2) return {};
  if (!isFrozenEntry(partial_.view())) {
    partial_.clear();
    skipping_ = true;
    return {};
  }
  if (partial_.size() >= left_) return fail(Error::StreamTooLong);
  return {};
}

Status FrozenPathFilter::finish() {
  if (skipping_ || partial_.empty()) return {};
  Status listed = entry(partial_.view());
  partial_.clear();
  return listed;
}

Status appendFrozenPaths(ByteBuffer& out, std::string_view lsFilesOutput) {
  FrozenPathFilter filter(out, SIZE_MAX);
  if (auto taken = filter.take(lsFilesOutput); !taken) return taken;
  return filter.finish();
}

Status listCommand() {
  ByteBuffer out;
  {
    auto path = excludeFilePath();
    if (!path) return fail(path.error());
    auto content = readExcludeFile(path->view());
    if (!content) return fail(content.error());
    if (auto added = appendHiddenPatterns(out, content->view()); !added) return added;
  }
  {
    // Only the frozen entries are kept as git's listing arrives.
    static constexpr std::string_view words[] = {"ls-files", "-v", "-z"};
    FrozenPathFilter filter(out, gitStdoutCap);
    auto result = runGit(words, [&](std::string_view piece) { return filter.take(piece); });
    if (!result) return fail(result.error());
    if (auto added = filter.finish(); !added) return added;
  }
  return writeAll(standardOutput(), out.view());
}

}  // namespace hushmark
