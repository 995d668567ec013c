#include "git/run_git.h"

#include <new>
#include <vector>

#include "base/text.h"
#include "runtime/report.h"

namespace hushmark {

namespace {

// Adds a piece of a stream to what was collected of it; StreamTooLong once
// the stream holds more than `cap` bytes.
Status collect(ByteBuffer& collected, std::size_t cap, std::string_view piece) {
  if (piece.size() > cap - collected.size()) return fail(Error::StreamTooLong);
  return collected.append(piece);
}

Result<GitResult> startAndRead(std::span<const std::string_view> argv,
                               const OutputConsumer* consume) {
  auto child = ChildProcess::start(argv);
  if (!child) return fail(child.error());
  GitResult result;
  if (auto kept = result.program.append(child->program()); !kept) return fail(kept.error());
  if (auto read = child->readOutput([&](ChildStream stream, std::string_view piece) -> Status {
        if (stream == ChildStream::Error) return collect(result.stderrBytes, gitStderrCap, piece);
        if (consume != nullptr) return (*consume)(piece);
        return collect(result.stdoutBytes, gitStdoutCap, piece);
      });
      !read) {
    return fail(read.error());
  }
  auto term = child->wait();
  if (!term) return fail(term.error());
  result.term = *term;
  if (auto kept = result.stdoutBytes.shrinkToFit(); !kept) return fail(kept.error());
  if (auto kept = result.stderrBytes.shrinkToFit(); !kept) return fail(kept.error());
  return result;
}

Result<GitResult> run(std::span<const std::string_view> words, const OutputConsumer* consume) {
  std::vector<std::string_view> argv;
  try {
    argv.reserve(words.size() + 1);
    argv.push_back("git");
    argv.insert(argv.end(), words.begin(), words.end());
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }

  auto result = startAndRead(argv, consume);
  if (!result) return explainGitFailure(errorName(result.error()));
  if (result->term.exited && result->term.code == 0) return result;
  return relayGitDiagnostic(result->stderrBytes.view());
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
  return run(words, nullptr);
}

Result<GitResult> runGit(std::span<const std::string_view> words, OutputConsumer consume) {
  return run(words, &consume);
}

}  // namespace hushmark
