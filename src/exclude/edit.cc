#include "exclude/edit.h"

#include <chrono>

#include "exclude/exclude_file.h"
#include "files/edit_lock.h"
#include "files/file_paths.h"
#include "git/exclude_path.h"

namespace hushmark {

Status editExcludeFile(std::span<const std::string_view> patterns, FileEdit edit) {
  auto path = excludeFilePath();
  if (!path) return fail(path.error());
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(lockPatienceSeconds);
  for (;;) {
    auto target = resolveSymbolicLinks(path->view());
    if (!target) return fail(target.error());
    auto edited = edit(target->view(), patterns);
    if (edited || edited.error() != Error::FileReplaced) return edited;
    if (std::chrono::steady_clock::now() >= deadline) return fail(Error::ExcludeFileLocked);
  }
}

Status rebuildExcludeFile(std::string_view path, std::span<const std::string_view> patterns,
                          LineEdit edit, bool directoryLocked) {
  auto file = openExcludeFile(path);
  if (!file) return fail(file.error());
  auto read = whatWasRead(*file, directoryLocked);
  if (!read) return fail(read.error());
  ByteBuffer content;
  if (*file) {
    auto whole = readExcludeFile(**file);
    if (!whole) return fail(whole.error());
    content = std::move(*whole);
    file->reset();
  }
  auto edited = edit(content.view(), patterns);
  if (!edited) return fail(edited.error());
  if (!*edited) return {};
  std::string_view pieces[] = {(*edited)->kept, (*edited)->rest.view()};
  return writeExcludeFile(path, *read, {}, pieces);
}

}  // namespace hushmark
