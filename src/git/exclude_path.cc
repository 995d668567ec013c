#include "git/exclude_path.h"

#include "git/run_git.h"
#include "runtime/report.h"
#include "runtime/text.h"

namespace hushmark {

Result<ByteBuffer> excludeFilePath() {
  static constexpr std::string_view words[] = {"rev-parse", "--git-path", "info/exclude"};
  auto answer = runGit(words);
  if (!answer) return fail(answer.error());

  std::string_view path = trimBytes(answer->stdoutBytes.view(), blanksAndLineEnds);
  if (path.empty()) {
    if (auto written = reportError("git returned an empty exclude path"); !written) {
      return fail(written.error());
    }
    return fail(Error::GitCommandFailed);
  }
  ByteBuffer copy;
  if (auto copied = copy.append(path); !copied) return fail(copied.error());
  return copy;
}

}  // namespace hushmark
