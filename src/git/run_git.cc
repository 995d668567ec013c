#include "git/run_git.h"

#include <new>
#include <vector>

#include "runtime/report.h"
#include "runtime/text.h"

namespace hushmark {

namespace {

Result<GitResult> startAndCollect(std::span<const std::string_view> argv) {
  auto child = ChildProcess::start(argv);
  if (!child) return fail(child.error());
  GitResult result;
  if (auto collected =
          child->collect(result.stdoutBytes, gitStdoutCap, result.stderrBytes, gitStderrCap);
      !collected) {
    return fail(collected.error());
  }
  auto term = child->wait();
  if (!term) return fail(term.error());
  result.term = *term;
  if (auto kept = result.stdoutBytes.shrinkToFit(); !kept) return fail(kept.error());
  if (auto kept = result.stderrBytes.shrinkToFit(); !kept) return fail(kept.error());
  return result;
}

}  // namespace

std::unexpected<Error> explainGitFailure(std::string_view message) {
  if (auto written = reportError(message); !written) return fail(written.error());
  return fail(Error::GitCommandFailed);
}

std::unexpected<Error> relayGitDiagnostic(std::string_view stderrBytes) {
  std::string_view diagnostic = trimBytes(stderrBytes, blanksAndLineEnds);
  return explainGitFailure(diagnostic.empty() ? std::string_view("git command failed")
                                              : diagnostic);
}

Result<GitResult> runGit(std::span<const std::string_view> words) {
  std::vector<std::string_view> argv;
  try {
    argv.reserve(words.size() + 1);
    argv.push_back("git");
    argv.insert(argv.end(), words.begin(), words.end());
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }

  auto result = startAndCollect(argv);
  if (!result) return explainGitFailure(errorName(result.error()));
  if (result->term.exited && result->term.code == 0) return result;
  return relayGitDiagnostic(result->stderrBytes.view());
}

}  // namespace hushmark
