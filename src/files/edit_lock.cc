#include "files/edit_lock.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "files/file.h"

namespace hushmark {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for the lock, trying again at short, growing intervals while
// another process holds it, and gives up after a while instead of waiting
// forever. A lock that the file system turns out not to offer is given up
// at once.
Status waitFor(LockTarget& target, Clock::time_point deadline) {
  if (!target.lockable) return {};
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    auto attempt = tryLock(target.lock);
    if (!attempt) return fail(attempt.error());
    switch (*attempt) {
      case LockAttempt::Taken:
        target.lock.markHeld();
        return {};
      case LockAttempt::Unsupported:
        target.lock = LockHandle();
        return {};
      case LockAttempt::Busy:
        break;
    }
    if (Clock::now() >= deadline) return fail(Error::ExcludeFileLocked);
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(32));
  }
}

}  // namespace

Result<std::optional<EditLock>> EditLock::take(std::string_view path) {
  const auto deadline = Clock::now() + std::chrono::seconds(lockPatienceSeconds);
  EditLock held;
  auto directory = openLock(directoryPart(path));
  if (!directory) return fail(directory.error());
  if (!*directory) return std::nullopt;
  if (auto waited = waitFor(**directory, deadline); !waited) return fail(waited.error());
  held.directoryHeld_ = (*directory)->lockable && (*directory)->lock.isHeld();
  held.directory_ = std::move((*directory)->lock);

  // The file may have been replaced between opening its lock and taking it
  // (by a program that does not take these locks): then the lock belongs to
  // a file that is gone, and the new one is locked instead.
  for (;;) {
    auto file = openLock(path);
    if (!file) return fail(file.error());
    if (!*file || !(*file)->lockable) return std::optional<EditLock>(std::move(held));
    if (auto waited = waitFor(**file, deadline); !waited) return fail(waited.error());
    auto now = statusOf(path);
    if (!now) return fail(now.error());
    if (*now && (*now)->identity == (**file).identity) {
      held.file_ = std::move((*file)->lock);
      return std::optional<EditLock>(std::move(held));
    }
    if (Clock::now() >= deadline) return fail(Error::ExcludeFileLocked);
  }
}

}  // namespace hushmark
