#include "exclude/hide.h"

#include <optional>

#include "exclude/exclude_file.h"
#include "exclude/patterns.h"
#include "exclude/removal.h"
#include "git/exclude_path.h"
#include "runtime/edit_lock.h"
#include "runtime/file.h"
#include "runtime/file_paths.h"

namespace hushmark {

namespace {

// Both commands read, edit and rewrite the file under its edit lock, so
// that two runs at the same moment, through any name of the file, cannot
// drop each other's changes. A missing directory holds no file, so there is
// nothing to lock; it is only created when there is something to write,
// and then the file is read again under the lock.
// Where the exclude file is a symbolic link, everything happens at the file
// it finally names, so that repositories whose exclude files link to one
// file also share one lock.

// The route for a file in any form: the whole content is read, edited line
// by line with `edit`, and written back when anything changed.
using LineEdit = Result<std::optional<NewContent>> (*)(std::string_view,
                                                       std::span<const std::string_view>);
Status rebuild(std::string_view path, std::span<const std::string_view> patterns, LineEdit edit) {
  auto content = readExcludeFile(path);
  if (!content) return fail(content.error());
  auto edited = edit(content->view(), patterns);
  if (!edited) return fail(edited.error());
  if (!*edited) return {};
  std::string_view pieces[] = {(*edited)->kept, (*edited)->rest.view()};
  return writeExcludeFile(path, {}, pieces);
}

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
      ByteBuffer added;
      if (auto appended = scan->appendMissing(added); !appended) return appended;
      std::string_view pieces[] = {added.view()};
      if (!*file) return writeExcludeFile(path, {}, pieces);
      FileRange kept[] = {{**file, 0, summary.size}};
      return writeExcludeFile(path, kept, pieces);
    }
    file->reset();  // the file is replaced below, which it may not be while open
    return rebuild(path, patterns, addPatterns);
  }
}

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
      // Nothing kept: the file is not needed for the copy, and it may not
      // be open while it is replaced.
      if (found->kept.empty()) file->reset();
      return writeExcludeFile(path, found->kept, {});
    }

    file->reset();  // the file is replaced below, which it may not be while open
    return rebuild(path, patterns, removePatterns);
  }
}

}  // namespace

Status hideCommand(std::span<const std::string_view> patterns) {
  auto path = excludeFilePath();
  if (!path) return fail(path.error());
  auto target = resolveSymbolicLinks(path->view());
  if (!target) return fail(target.error());
  return hide(target->view(), patterns);
}

Status unhideCommand(std::span<const std::string_view> patterns) {
  auto path = excludeFilePath();
  if (!path) return fail(path.error());
  auto target = resolveSymbolicLinks(path->view());
  if (!target) return fail(target.error());
  return unhide(target->view(), patterns);
}

}  // namespace hushmark
