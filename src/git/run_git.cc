#include "git/run_git.h"

#include <new>
#include <vector>

#include "runtime/report.h"
#include "runtime/text.h"

namespace hushmark {

namespace {

// Explains a failed run with one error line.
std::unexpected<Error> explain(std::string_view message) {
  if (auto written = reportError(message); !written) return fail(written.error());
  return fail(Error::GitCommandFailed);
}

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
  if (!result) return explain(errorName(result.error()));
  if (result->term.exited && result->term.code == 0) return result;

  std::string_view diagnostic = trimBytes(result->stderrBytes.view(), blanksAndLineEnds);
  return explain(diagnostic.empty() ? std::string_view("git command failed") : diagnostic);
}

}  // namespace hushmark
