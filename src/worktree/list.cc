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
    if (entry.starts_with("S ")) {
      if (auto added = appendTagged(out, "freeze\t", entry.substr(2)); !added) return added;
    }
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
