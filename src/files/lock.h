// Locks on files and directories that every process of the machine sees,
// whoever runs it: the platform's primitives, taken without waiting.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "base/error.h"
#include "base/native_file.h"
#include "files/file.h"

namespace hushmark {

// A lock that a process holds on a file or a directory (every name of it
// reaches the same lock), given back when the object goes or the process
// ends, however it ends, and shared by every user of the machine.
class LockHandle {
 public:
  LockHandle() = default;
  explicit LockHandle(NativeFile handle) : handle_(handle), open_(true) {}
  ~LockHandle() {
    if (open_) release(handle_, held_);
  }
  LockHandle(LockHandle&& other) noexcept
      : handle_(other.handle_),
        open_(std::exchange(other.open_, false)),
        held_(std::exchange(other.held_, false)) {}
  LockHandle& operator=(LockHandle&& other) noexcept {
    if (this != &other) {
      if (open_) release(handle_, held_);
      handle_ = other.handle_;
      open_ = std::exchange(other.open_, false);
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  LockHandle(const LockHandle&) = delete;
  LockHandle& operator=(const LockHandle&) = delete;

  NativeFile handle() const { return handle_; }
  void markHeld() { held_ = true; }
  bool isHeld() const { return open_ && held_; }

 private:
  // Gives the lock back when held, and closes the handle; each platform's
  // own.
  static void release(NativeFile handle, bool held);

  NativeFile handle_{};
  bool open_ = false;
  bool held_ = false;
};

// The lock of the file or directory at `path` (empty: the current
// directory), not yet taken, and the identity of what it locks; nullopt
// when nothing is there. `lockable` is false where no lock can be had at
// all (the file system offers none, or the object may not be looked at).
struct LockTarget {
  LockHandle lock;
  FileIdentity identity;
  bool lockable = false;
};
Result<std::optional<LockTarget>> openLock(std::string_view path);

enum class LockAttempt : std::uint8_t { Taken, Busy, Unsupported };

// Tries once to take the lock, without waiting.
Result<LockAttempt> tryLock(LockHandle& lock);

}  // namespace hushmark
