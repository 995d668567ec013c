// The hide command: adds patterns to the repository's private exclude file,
// each once. Silent on success.
#pragma once

#include <span>
#include <string_view>

#include "base/error.h"

namespace hushmark {

Status hideCommand(std::span<const std::string_view> patterns);

}  // namespace hushmark
