// The hide and unhide commands: add patterns to, or remove them from, the
// repository's private exclude file. Silent on success.
#pragma once

#include <span>
#include <string_view>

#include "runtime/error.h"

namespace hushmark {

Status hideCommand(std::span<const std::string_view> patterns);
Status unhideCommand(std::span<const std::string_view> patterns);

}  // namespace hushmark
