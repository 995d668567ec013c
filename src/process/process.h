// A child process with captured output, started without a shell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/error.h"
#include "base/function_ref.h"

namespace hushmark {

// The child's two output pipes.
enum class ChildStream : std::uint8_t { Output, Error };

// How a child ended.
struct Termination {
  // True when the child exited normally; otherwise it was killed by a
  // signal, stopped, or ended in a way that cannot be read.
  bool exited = false;
  // The exit code, whole: 8 bits on POSIX systems, 32 on Windows.
  std::uint32_t code = 0;
};

class ChildProcess {
 public:
  // Starts argv[0], found on the executable search path by the program's
  // own search (program_search.h: PATH's non-empty entries only, never the
  // current directory unless PATH names it), with argv as its arguments and
  // no shell between, in a process group (on Windows a job) of its own.
  // Standard input comes from the null device; standard output and standard
  // error go to two separate pipes. Working directory and environment are
  // inherited. FileNotFound when no such program is found.
  static Result<ChildProcess> start(std::span<const std::string_view> argv);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // A child that has not been waited for is stopped here, so none outlives
  // its owner; every handle is closed.
  ~ChildProcess();

  // Reads both pipes at the same time until both reach their end, neither
  // waiting for the other, and hands every piece read to `take` as it
  // arrives, with the pipe it came from; a piece is never empty. Once the
  // child has ended, only what the pipes then hold is taken (see
  // leftoverReadMilliseconds): a process it left running with them is not
  // waited for. A failed
  // read ends it with that error, and so does an error that `take` returns,
  // at once. What is done with the pieces (collected under a cap, filtered)
  // is the caller's business.
  Status readOutput(FunctionRef<Status(ChildStream, std::string_view)> take);

  // The file that was started for argv[0], as found on the search path
  // (WTF-8 on Windows).
  std::string_view program() const;

  // Waits for the child to end.
  Result<Termination> wait();

  // Ends a child that has not been waited for, gently, with whatever it
  // started: asks it to end where the platform can (SIGTERM to its process
  // group; Windows has no such request for a child without a console), keeps reading and discarding
  // its output so that it can finish, and kills it when it has not ended within the grace period
  // (childGraceMilliseconds). Reaped either way.
  void stop();

 private:
  // The platform's primitives under stop().
  void askToEnd();
  // Reads and discards the output and waits for the end, for `milliseconds`
  // at most; whether the child ended (then it has been reaped).
  bool finishWithin(int milliseconds);
  // Kills the child (on Windows, the job it runs in) and reaps it.
  void kill();

  struct Handles;
  explicit ChildProcess(Handles* handles) : handles_(handles) {}
  Handles* handles_ = nullptr;
};

}  // namespace hushmark
