// The unhide command: removes every line of the repository's private
// exclude file that is one of the patterns, as Git reads it. Silent on
// success.
#pragma once

#include <span>
#include <string_view>

#include "base/error.h"

namespace hushmark {

Status unhideCommand(std::span<const std::string_view> patterns);

}  // namespace hushmark
