#include "exclude/edit.h"

#include "exclude/exclude_file.h"
#include "git/exclude_path.h"
#include "runtime/file_paths.h"

namespace hushmark {

Status editExcludeFile(std::span<const std::string_view> patterns, FileEdit edit) {
  auto path = excludeFilePath();
  if (!path) return fail(path.error());
  auto target = resolveSymbolicLinks(path->view());
  if (!target) return fail(target.error());
  return edit(target->view(), patterns);
}

Status rebuildExcludeFile(std::string_view path, std::span<const std::string_view> patterns,
                          LineEdit edit) {
  auto content = readExcludeFile(path);
  if (!content) return fail(content.error());
  auto edited = edit(content->view(), patterns);
  if (!edited) return fail(edited.error());
  if (!*edited) return {};
  std::string_view pieces[] = {(*edited)->kept, (*edited)->rest.view()};
  return writeExcludeFile(path, {}, pieces);
}

}  // namespace hushmark
