#include "worktree/list.h"

#include <cstring>

#include "exclude/exclude_file.h"
#include "exclude/lines.h"
#include "git/exclude_path.h"
#include "git/run_git.h"
#include "runtime/output.h"
#include "runtime/text.h"

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
  ExcludeLineIterator lines(excludeContent);
  while (auto line = lines.next()) {
    std::string_view tested = trimBytes(*line, " \t");
    if (tested.empty() || tested.front() == '#') continue;
    if (auto added = appendTagged(out, "hide\t", *line); !added) return added;
  }
  return {};
}

Status appendFrozenPaths(ByteBuffer& out, std::string_view lsFilesOutput) {
  std::string_view rest = lsFilesOutput;
  while (!rest.empty()) {
    const void* nul = std::memchr(rest.data(), '\0', rest.size());
    std::size_t length =
        nul == nullptr ? rest.size()
                       : static_cast<std::size_t>(static_cast<const char*>(nul) - rest.data());
    std::string_view entry = rest.substr(0, length);
    rest.remove_prefix(nul == nullptr ? rest.size() : length + 1);
    // "S " marks a skip-worktree entry, "s " one that is also
    // assume-unchanged: both are frozen.
    if (!entry.starts_with("S ") && !entry.starts_with("s ")) continue;
    std::string_view path = entry.substr(2);
    auto added =
        needsQuoting(path) ? appendQuotedPath(out, path) : appendTagged(out, "freeze\t", path);
    if (!added) return added;
  }
  return {};
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
    static constexpr std::string_view words[] = {"ls-files", "-v", "-z"};
    auto result = runGit(words);
    if (!result) return fail(result.error());
    if (auto added = appendFrozenPaths(out, result->stdoutBytes.view()); !added) return added;
  }
  return writeAll(standardOutput(), out.view());
}

}  // namespace hushmark
