// The fallback error line: "error", ": ", the message pieces, "\n" on
// standard error, styled by the colour rules. Failures while writing it are
// ignored.
#pragma once

#include <initializer_list>
#include <string_view>

namespace hushmark {

void logError(std::initializer_list<std::string_view> pieces);

}  // namespace hushmark
