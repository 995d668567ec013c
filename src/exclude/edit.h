// What hide and unhide share: the file they edit, and the route that reads,
// edits and rewrites it whole.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"
#include "exclude/patterns.h"

namespace hushmark {

// Both commands read, edit and rewrite the file under its edit lock, so
// that two runs at the same moment, through any name of the file, cannot
// drop each other's changes. A missing directory holds no file, so there is
// nothing to lock; it is only created when there is something to write,
// and then the file is read again under the lock.
// Where the exclude file is a symbolic link, everything happens at the file
// it finally names, so that repositories whose exclude files link to one
// file also share one lock.

// Runs `edit` with the patterns on the file that the exclude path Git names
// finally reaches, symbolic links followed. When another program put
// something in the file's place between the reading and the writing
// (FileReplaced), the edit is begun again, links followed anew, for as
// long as a lock is waited for; then ExcludeFileLocked.
using FileEdit = Status (*)(std::string_view path, std::span<const std::string_view> patterns);
Status editExcludeFile(std::span<const std::string_view> patterns, FileEdit edit);

// The route for a file in any form: the whole content is read, edited line
// by line with `edit`, and written back when anything changed.
// `directoryLocked`: whether the caller holds the directory's lock.
using LineEdit = Result<std::optional<NewContent>> (*)(std::string_view,
                                                       std::span<const std::string_view>);
Status rebuildExcludeFile(std::string_view path, std::span<const std::string_view> patterns,
                          LineEdit edit, bool directoryLocked);

}  // namespace hushmark
