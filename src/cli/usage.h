// The fixed texts of the front end: usages and the version line.
#pragma once

#include "cli/command.h"
#include "runtime/error.h"
#include "runtime/native_file.h"

namespace hushmark {

inline constexpr std::string_view programVersion = "0.0.3";

Status printTopUsage(NativeFile file);
Status printCommandUsage(Command command);
Status printVersion();

}  // namespace hushmark
