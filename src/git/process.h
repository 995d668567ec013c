// A child process with captured output: the platform side of the git runner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/buffer.h"
#include "runtime/error.h"

namespace hushmark {

// How a child ended.
struct Termination {
  // True when the child exited normally; otherwise it was killed by a
  // signal, stopped, or ended in a way that cannot be read.
  bool exited = false;
  // The exit code, its low 8 bits.
  std::uint8_t code = 0;
};

class ChildProcess {
 public:
  // Starts argv[0], found on the executable search path the way the user's
  // shell finds a command, with argv as its arguments and no shell between.
  // Standard input comes from the null device; standard output and standard
  // error go to two separate pipes. Working directory and environment are
  // inherited. FileNotFound when no such program is found.
  static Result<ChildProcess> start(std::span<const std::string_view> argv);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // A child that has not been waited for is terminated and reaped here, so
  // none outlives its owner; every handle is closed.
  ~ChildProcess();

  // Reads both pipes at the same time until both reach their end, neither
  // waiting for the other. StreamTooLong as soon as one holds more than its
  // cap; a failed read or a buffer that cannot grow ends it with that error.
  Status collect(ByteBuffer& out, std::size_t outCap, ByteBuffer& err, std::size_t errCap);

  // Waits for the child to end.
  Result<Termination> wait();

 private:
  struct Handles;
  explicit ChildProcess(Handles* handles) : handles_(handles) {}
  Handles* handles_ = nullptr;
};

}  // namespace hushmark
