#include "exclude/hide.h"

#include <optional>

#include "exclude/edit.h"
#include "exclude/exclude_file.h"
#include "exclude/patterns.h"
#include "files/edit_lock.h"
#include "files/file.h"
#include "files/file_paths.h"

namespace hushmark {

namespace {

// hide reads the file in pieces and stops as soon as every pattern has been
// seen. When something is missing and the file is already in written form,
// the new file is the old one, copied as it is, plus the missing patterns;
// otherwise the whole content is rebuilt line by line.
Status hide(std::string_view path, std::span<const std::string_view> patterns) {
  auto lock = EditLock::take(path);
  if (!lock) return fail(lock.error());
  for (;;) {
    auto scan = PresenceScan::make(patterns);
    if (!scan) return fail(scan.error());
    auto file = openExcludeFile(path);
    if (!file) return fail(file.error());
    ExcludeFileScan summary{.size = 0, .complete = true, .writtenForm = true};
    if (*file) {
      auto scanned = scanExcludeFile(**file, [&](std::string_view lines) {
        scan->scan(lines);
        return !scan->allPresent();
      });
      if (!scanned) return fail(scanned.error());
      summary = *scanned;
    }
    if (scan->allPresent()) return {};

    if (!*lock) {
      if (auto made = createDirectories(directoryPart(path)); !made) return made;
      lock = EditLock::take(path);
      if (!lock) return fail(lock.error());
      if (!*lock) return fail(Error::FileNotFound);
      continue;
    }

    if (summary.writtenForm) {
      auto read = whatWasRead(*file, (*lock)->holdsDirectory());
      if (!read) return fail(read.error());
      ByteBuffer added;
      if (auto appended = scan->appendMissing(added); !appended) return appended;
      std::string_view pieces[] = {added.view()};
      if (!*file) return writeExcludeFile(path, *read, {}, pieces);
      FileRange kept[] = {{**file, 0, summary.size}};
      return writeExcludeFile(path, *read, kept, pieces);
    }
    file->reset();  // read again, whole, below
    return rebuildExcludeFile(path, patterns, addPatterns, (*lock)->holdsDirectory());
  }
}

}  // namespace

Status hideCommand(std::span<const std::string_view> patterns) {
  return editExcludeFile(patterns, hide);
}

}  // namespace hushmark
