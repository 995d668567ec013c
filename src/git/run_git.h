// Runs git with captured output. The only place that starts another process,
// and the place that explains a failed git run to the user.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"
#include "base/function_ref.h"
#include "process/process.h"

namespace hushmark {

// What a successful git run leaves behind: everything it wrote to its two
// streams, byte for byte, and how it ended (always: exited with code 0).
struct GitResult {
  // The git program that ran, as found on the search path.
  ByteBuffer program;
  ByteBuffer stdoutBytes;
  ByteBuffer stderrBytes;
  Termination term;
};

inline constexpr std::size_t gitStdoutCap = 16 * 1024 * 1024;
inline constexpr std::size_t gitStderrCap = 1024 * 1024;

// Runs "git" followed by `words`. On any failure one error line has been
// written through reportError and the result is GitCommandFailed; except
// OutOfMemory when the argument vector cannot be built (nothing written),
// and the write's error when the error line itself cannot be written.
Result<GitResult> runGit(std::span<const std::string_view> words);

// Takes each piece of git's standard output as it arrives. An error it
// returns ends the run (git is ended too) and is explained like a failure
// to read git's output.
using OutputConsumer = FunctionRef<Status(std::string_view)>;

// The same run, but git's standard output goes piece by piece to `consume`
// instead of being collected, so it may be of any length (the result's
// stdoutBytes stays empty). The pieces are cut wherever a read of the pipe
// ends, not at any boundary of git's own. Whether the run succeeds is known
// only at the end: the consumer must hold back any effect until then.
Result<GitResult> runGit(std::span<const std::string_view> words, OutputConsumer consume);

// Ends a command the way a failed git run ends it: one error line holding
// `message`, then GitCommandFailed (or the write's error).
std::unexpected<Error> explainGitFailure(std::string_view message);

// explainGitFailure with git's standard error, trimmed of blanks and line
// ends at both ends; "git command failed" when nothing is left.
std::unexpected<Error> relayGitDiagnostic(std::string_view stderrBytes);

}  // namespace hushmark
