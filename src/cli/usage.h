// The fixed texts of the front end: usages and the version line.
#pragma once

#include "cli/command.h"
#include "runtime/error.h"
#include "runtime/native_file.h"

namespace hushmark {

Status printTopUsage(NativeFile file);
Status printCommandUsage(Command command);
Status printVersion();

}  // namespace hushmark
