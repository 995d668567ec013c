// The freeze and unfreeze commands: set or clear the skip-worktree mark of
// tracked files through one git run.
#pragma once

#include <span>
#include <string_view>

#include "runtime/error.h"

namespace hushmark {

// Runs "git update-index --skip-worktree -- <paths>" (skip) or
// "--no-skip-worktree" (not skip), with the paths unchanged and in order.
// A run that git reports as successful but that ignored a path ("Ignoring
// path" on its standard error) fails as a failed run does.
Status setSkipWorktree(bool skip, std::span<const std::string_view> paths);

}  // namespace hushmark
