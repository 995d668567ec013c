// The lock under which the exclude file is read, edited and rewritten, so
// that runs at the same moment, through whatever name of the file and by
// whichever user, cannot drop each other's changes.
#pragma once

#include <optional>
#include <string_view>

#include "base/error.h"
#include "files/file.h"
#include "files/lock.h"

namespace hushmark {

// How long a lock that another process holds is waited for.
inline constexpr int lockPatienceSeconds = 5;

// Two locks, taken in this order and held together: one on the directory of
// the file, because a rewrite usually puts a new file in the old one's
// place, so that the file's own lock would not reach the next run; one on
// the file itself, because its other names (hard links from other
// directories) lead to it without passing the directory. A lock that the
// file system cannot give is left out, and the work goes on unlocked.
class EditLock {
 public:
  // Takes the locks for the file at `path`. nullopt, and no lock, when the
  // file's directory does not exist; nothing is created. ExcludeFileLocked
  // (the locks guard that file) when another process holds one for longer
  // than lockPatienceSeconds.
  static Result<std::optional<EditLock>> take(std::string_view path);

  // Whether the directory's lock is held (the file system gave one).
  bool holdsDirectory() const { return directoryHeld_; }

 private:
  EditLock() = default;
  bool directoryHeld_ = false;
  LockHandle directory_;
  LockHandle file_;
};

}  // namespace hushmark
