// The fixed texts of the front end: usages and the version line.
#pragma once

#include "base/error.h"
#include "base/native_file.h"
#include "cli/command.h"

namespace hushmark {

Status printTopUsage(NativeFile file);
Status printCommandUsage(Command command);
Status printVersion();

}  // namespace hushmark
