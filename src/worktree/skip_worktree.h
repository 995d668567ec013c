// The freeze and unfreeze commands: set or clear the skip-worktree mark of
// tracked files through one git run.
#pragma once

#include <span>
#include <string_view>

#include "base/error.h"

namespace hushmark {

// freeze runs "git update-index --skip-worktree -- <paths>", unfreeze the
// same with "--no-skip-worktree", with the paths unchanged and in order.
// A run that git reports as successful but that ignored a path ("Ignoring
// path" on its standard error) fails as a failed run does.
Status freezeCommand(std::span<const std::string_view> paths);
Status unfreezeCommand(std::span<const std::string_view> paths);

}  // namespace hushmark
