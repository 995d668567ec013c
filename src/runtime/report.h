// One error line of the program's own making: "hushmark: ", the message,
// "\n" on standard error.
#pragma once

#include <string_view>

#include "base/error.h"

namespace hushmark {

// Written as three complete writes; stops at and returns the first failure.
Status reportError(std::string_view message);

}  // namespace hushmark
