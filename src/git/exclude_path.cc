#include "git/exclude_path.h"

#include "base/text.h"
#include "files/file.h"
#include "files/windows_path.h"
#include "git/run_git.h"

namespace hushmark {

Result<ByteBuffer> excludeFilePath() {
  static constexpr std::string_view words[] = {"rev-parse", "--git-path", "info/exclude"};
  auto answer = runGit(words);
  if (!answer) return fail(answer.error());

  // Git ends its answer with a line end; every other byte, blanks at either
  // end included, belongs to the path.
  std::string_view path = answer->stdoutBytes.view();
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.remove_suffix(1);
  if (trimBytes(path, blanksAndLineEnds).empty()) {
    return explainGitFailure("git returned an empty exclude path");
  }
  if (path.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
    return explainGitFailure("git returned an exclude path that is not a single line");
  }
  // A git built for MSYS2 or Cygwin answers with its own POSIX path, which
  // Windows would take as one on the current drive's root: a file would be
  // made where no git looks.
  if (windowsFilePaths && beginsWithPosixRoot(path)) {
    ByteBuffer message;
    for (std::string_view piece :
         {std::string_view("git returned an exclude path that is not a Windows path: "), path,
          std::string_view(" (git used: "), answer->program.view(), std::string_view(")")}) {
      if (auto added = message.append(piece); !added) return fail(added.error());
    }
    return explainGitFailure(message.view());
  }
  ByteBuffer copy;
  if (auto copied = copy.append(path); !copied) return fail(copied.error());
  return copy;
}

}  // namespace hushmark
