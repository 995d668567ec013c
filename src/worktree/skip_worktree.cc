#include "worktree/skip_worktree.h"

#include <new>
#include <vector>

#include "git/run_git.h"

namespace hushmark {

Status setSkipWorktree(bool skip, std::span<const std::string_view> paths) {
  std::vector<std::string_view> words;
  try {
    words.reserve(paths.size() + 3);
    words.push_back("update-index");
    words.push_back(skip ? "--skip-worktree" : "--no-skip-worktree");
    words.push_back("--");
    words.insert(words.end(), paths.begin(), paths.end());
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
  auto result = runGit(words);
  if (!result) return fail(result.error());
  return {};
}

}  // namespace hushmark
