#include "exclude/unhide.h"

#include <optional>

#include "exclude/edit.h"
#include "exclude/exclude_file.h"
#include "exclude/patterns.h"
#include "exclude/removal.h"
#include "files/edit_lock.h"

namespace hushmark {

namespace {

// Beyond this many stretches of the old file to keep, unhide rebuilds the
// content in memory instead.
constexpr std::size_t maxKeptRanges = 4096;

// unhide reads the file in pieces and notes where the lines to remove
// stand. When nothing goes, nothing is written; when the file is in written
// form, the new file is made of the old bytes between the removed lines,
// copied as they are. Otherwise, or when the removed lines are too many to
// keep track of, the content is rebuilt in memory line by line.
Status unhide(std::string_view path, std::span<const std::string_view> patterns) {
  auto lock = EditLock::take(path);
  if (!lock) return fail(lock.error());
  for (;;) {
    auto scan = PresenceScan::make(patterns);
    if (!scan) return fail(scan.error());
    // Without the directory there is no file and nothing to remove, but the
    // file is still opened, so that a path that cannot be read is reported.
    auto file = openExcludeFile(path);
    if (!file) return fail(file.error());
    if (!*file) return {};
    auto found = scanForRemoval(**file, *scan, maxKeptRanges);
    if (!found) return fail(found.error());
    if (!found->anyRemoved) return {};
    if (!*lock) {
      // The directory appeared after the first look: lock it and read again.
      lock = EditLock::take(path);
      if (!lock) return fail(lock.error());
      if (!*lock) return fail(Error::FileNotFound);
      continue;
    }
    if (found->summary.complete && found->summary.writtenForm) {
      auto read = whatWasRead(*file, (*lock)->holdsDirectory());
      if (!read) return fail(read.error());
      // Nothing kept: the file is not needed for the copy.
      if (found->kept.empty()) file->reset();
      return writeExcludeFile(path, *read, found->kept, {});
    }

    file->reset();  // read again, whole, below
    return rebuildExcludeFile(path, patterns, removePatterns, (*lock)->holdsDirectory());
  }
}

}  // namespace

Status unhideCommand(std::span<const std::string_view> patterns) {
  return editExcludeFile(patterns, unhide);
}

}  // namespace hushmark
