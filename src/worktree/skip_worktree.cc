#include "worktree/skip_worktree.h"

#include <new>
#include <vector>

#include "git/run_git.h"

namespace hushmark {

namespace {

// Git does not translate this message, so matching it is safe.
constexpr std::string_view ignoringPath = "Ignoring path ";
constexpr std::string_view lineIgnoringPath = "\nIgnoring path ";

// Sets or clears the skip-worktree mark of `paths` in one git run.
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
  // Git passes over a path it will not touch (a directory, an empty path, a
  // path inside .git) with "Ignoring path <path>" on standard error, and
  // still exits 0: nothing was done, so this fails like a failed run.
  std::string_view diagnostic = result->stderrBytes.view();
  if (diagnostic.starts_with(ignoringPath) ||
      diagnostic.find(lineIgnoringPath) != std::string_view::npos) {
    return relayGitDiagnostic(diagnostic);
  }
  return {};
}

}  // namespace

Status freezeCommand(std::span<const std::string_view> paths) {
  return setSkipWorktree(true, paths);
}

Status unfreezeCommand(std::span<const std::string_view> paths) {
  return setSkipWorktree(false, paths);
}

}  // namespace hushmark
