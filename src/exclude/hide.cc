#include "exclude/hide.h"

#include <optional>

#include "exclude/exclude_file.h"
#include "exclude/patterns.h"
#include "git/exclude_path.h"
#include "runtime/file.h"

namespace hushmark {

namespace {

using Edit = Result<std::optional<NewContent>> (*)(std::string_view,
                                                   std::span<const std::string_view>);

// Reads the file and applies the edit; nullopt when nothing changes.
Result<std::optional<NewContent>> readAndEdit(std::string_view path, Edit edit,
                                              std::span<const std::string_view> patterns,
                                              ByteBuffer& content) {
  auto read = readExcludeFile(path);
  if (!read) return fail(read.error());
  content = std::move(*read);
  return edit(content.view(), patterns);
}

// Read, edit and rewrite under an exclusive lock on the file's directory,
// so that two runs at the same moment cannot drop each other's changes. The
// lock lives on the directory because the file itself is replaced by each
// rewrite; a missing directory is only created when there is something to
// write, and then the file is read again under the lock.
Status editExcludeFile(Edit edit, std::span<const std::string_view> patterns) {
  auto path = excludeFilePath();
  if (!path) return fail(path.error());
  std::string_view directory = directoryPart(path->view());

  auto lock = lockDirectory(directory);
  if (!lock) return fail(lock.error());
  ByteBuffer content;
  auto edited = readAndEdit(path->view(), edit, patterns, content);
  if (!edited) return fail(edited.error());
  if (!*edited) return {};

  if (!*lock) {
    if (auto made = createDirectories(directory); !made) return made;
    lock = lockDirectory(directory);
    if (!lock) return fail(lock.error());
    if (!*lock) return fail(Error::FileNotFound);
    edited = readAndEdit(path->view(), edit, patterns, content);
    if (!edited) return fail(edited.error());
    if (!*edited) return {};
  }

  const NewContent& update = **edited;
  std::string_view pieces[] = {update.kept, update.rest.view()};
  return writeExcludeFile(path->view(), pieces);
}

}  // namespace

Status hideCommand(std::span<const std::string_view> patterns) {
  return editExcludeFile(&addPatterns, patterns);
}

Status unhideCommand(std::span<const std::string_view> patterns) {
  return editExcludeFile(&removePatterns, patterns);
}

}  // namespace hushmark
