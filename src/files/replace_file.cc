#include "files/replace_file.h"

#include <chrono>
#include <optional>

#include "base/buffer.h"
#include "files/file_paths.h"
#include "files/protection.h"
#include "runtime/interrupt.h"
#include "runtime/output.h"

namespace hushmark {

namespace {

constexpr std::size_t copyChunk = std::size_t{64} * 1024;
constexpr int temporaryNameAttempts = 100;
// The temporary name under the directory's lock, followed by a NUL.
constexpr std::string_view lockedSuffix{".hushmark-tmp.0\0", 16};

// Appends `length` bytes of `file` from `offset` on to `out`.
Status readExactly(const File& file, std::uint64_t offset, std::uint64_t length, ByteBuffer& out) {
  if (auto reserved = out.reserveExtra(static_cast<std::size_t>(length)); !reserved) {
    return reserved;
  }
  while (length > 0) {
    auto got = readAt(file, offset, out.spare(), static_cast<std::size_t>(length));
    if (!got) return fail(got.error());
    // The file is shorter than it said.
    if (*got == 0) return fail(Error::InputOutput);
    out.commit(*got);
    offset += *got;
    length -= *got;
  }
  return {};
}

// Hands the range to `write` in pieces read through a buffer, which lives on
// the heap: the program must run within a small stack.
template <typename Write>
Status copyThroughBuffer(const File& from, std::uint64_t offset, std::uint64_t length,
                         Write&& write) {
  ByteBuffer chunk;
  while (length > 0) {
    chunk.clear();
    std::uint64_t want = length < copyChunk ? length : copyChunk;
    if (auto read = readExactly(from, offset, want, chunk); !read) return read;
    if (auto written = write(chunk.view()); !written) return written;
    offset += want;
    length -= want;
  }
  return {};
}

// Writes the range at `at` of `out`, which moves on; inside the system where
// it offers that, and through a buffer from the first time it does not.
Status copyRange(const FileRange& range, const File& out, std::uint64_t& at) {
  std::uint64_t offset = range.offset;
  std::uint64_t left = range.length;
  while (left > 0) {
    auto copied = copyInSystem(range.file, offset, out, at, left);
    if (!copied) return fail(copied.error());
    if (*copied == 0) break;
    offset += *copied;
    at += *copied;
    left -= *copied;
  }
  return copyThroughBuffer(range.file, offset, left, [&](std::string_view bytes) -> Status {
    if (auto written = writeAt(out, bytes, at); !written) return written;
    at += bytes.size();
    return {};
  });
}

Status writeContent(const File& out, std::span<const FileRange> kept,
                    std::span<const std::string_view> pieces) {
  std::uint64_t at = 0;
  for (const FileRange& range : kept) {
    if (auto copied = copyRange(range, out, at); !copied) return copied;
  }
  for (std::string_view piece : pieces) {
    if (auto written = writeAt(out, piece, at); !written) return written;
    at += piece.size();
  }
  return {};
}

// A device takes the content as a stream, from its start.
Status writeToDevice(std::string_view path, std::span<const FileRange> kept,
                     std::span<const std::string_view> pieces) {
  auto out = openDeviceForWriting(path);
  if (!out) return fail(out.error());
  auto send = [&](std::string_view bytes) { return writeAll(out->handle(), bytes); };
  for (const FileRange& range : kept) {
    if (auto copied = copyThroughBuffer(range.file, range.offset, range.length, send); !copied) {
      return copied;
    }
  }
  for (std::string_view piece : pieces) {
    if (auto written = send(piece); !written) return written;
  }
  return {};
}

Result<bool> isSameFile(const File& a, const FileStatus& b) {
  auto status = statusOf(a);
  if (!status) return fail(status.error());
  return status->identity == b.identity;
}

// Appends `added` (whole lines) to the file of `oldSize` bytes, which ends
// with a line feed, so that Git never reads a cut pattern: first as one
// comment line, a `#` in place of its first byte and NULs in place of its
// line feeds but the last, and then the lines themselves, written over it.
// A kill between the two writes leaves that comment; a write that the
// system completes only in part leaves a comment cut short, or the first
// of the new lines and then one that Git reads up to its NUL, a whole
// pattern. A failure cuts the file back to its old length.
Status appendInPlace(const File& file, std::uint64_t oldSize, std::string_view added) {
  if (added.empty()) return {};
  ByteBuffer hidden;
  if (auto marked = hidden.append('#'); !marked) return marked;
  std::size_t lastInner = 0;  // the last line feed before the final one
  for (std::size_t from = 1; from < added.size();) {
    std::size_t lineFeed = added.find('\n', from);
    if (lineFeed == std::string_view::npos || lineFeed + 1 == added.size()) {
      if (auto copied = hidden.append(added.substr(from)); !copied) return copied;
      break;
    }
    if (auto copied = hidden.append(added.substr(from, lineFeed - from)); !copied) return copied;
    if (auto copied = hidden.append('\0'); !copied) return copied;
    lastInner = lineFeed;
    from = lineFeed + 1;
  }
  auto written = writeAt(file, hidden.view(), oldSize);
  if (written) written = writeAt(file, added.substr(0, lastInner + 1), oldSize);
  if (!written) (void)truncateFile(file, oldSize);
  return written;
}

// Writes `content` over the file's `old` content so that every moment
// shows Git the old or the new lines: one write from the first byte that
// differs, padded with line feeds (blank lines) up to the old length, and
// only then the cut to the new length. A failure writes the old bytes back.
Status overwriteInPlace(const File& file, std::string_view old, std::string_view content) {
  std::size_t same = 0;
  std::size_t shorter = old.size() < content.size() ? old.size() : content.size();
  while (same < shorter && old[same] == content[same]) ++same;
  if (same == old.size() && same == content.size()) return {};
  ByteBuffer tail;
  if (auto added = tail.append(content.substr(same)); !added) return added;
  for (std::size_t size = content.size(); size < old.size(); ++size) {
    if (auto added = tail.append('\n'); !added) return added;
  }
  auto written = writeAt(file, tail.view(), same);
  if (written && content.size() < old.size()) written = truncateFile(file, content.size());
  if (!written) {
    (void)writeAt(file, old.substr(same), same);
    (void)truncateFile(file, old.size());
  }
  return written;
}

// Rewrites an existing regular file in place, where a new file in its place
// would not be the same file to everyone; only the file that was read, and
// so that Git reads its old or its new lines at every moment.
Status rewriteInPlace(std::string_view path, const FileIdentity& read,
                      std::span<const FileRange> kept, std::span<const std::string_view> pieces) {
  auto file = openForUpdate(path);
  if (!file) return fail(file.error());
  auto status = statusOf(*file);
  if (!status) return fail(status.error());
  if (status->identity != read || status->kind != FileKind::Regular) {
    return fail(Error::FileReplaced);
  }
  const std::uint64_t oldSize = status->size;

  ByteBuffer content;
  if (kept.size() == 1 && kept[0].offset == 0 && kept[0].length == oldSize) {
    auto whole = isSameFile(kept[0].file, *status);
    if (!whole) return fail(whole.error());
    if (*whole) {
      for (std::string_view piece : pieces) {
        if (auto added = content.append(piece); !added) return added;
      }
      return appendInPlace(*file, oldSize, content.view());
    }
  }

  ByteBuffer old;
  if (auto read = readExactly(*file, 0, oldSize, old); !read) return read;
  for (const FileRange& range : kept) {
    auto own = isSameFile(range.file, *status);
    if (!own) return fail(own.error());
    if (!*own) {
      if (auto read = readExactly(range.file, range.offset, range.length, content); !read) {
        return read;
      }
      continue;
    }
    if (range.offset > old.size() || range.length > old.size() - range.offset) {
      return fail(Error::InputOutput);
    }
    auto bytes = old.view().substr(static_cast<std::size_t>(range.offset),
                                   static_cast<std::size_t>(range.length));
    if (auto added = content.append(bytes); !added) return added;
  }
  for (std::string_view piece : pieces) {
    if (auto added = content.append(piece); !added) return added;
  }
  return overwriteInPlace(*file, old.view(), content.view());
}

// A name next to `target` that no other run picks (the time, an address
// that differs between runs, and a count within this run), followed by a
// NUL.
Status temporaryName(std::string_view target, ByteBuffer& name) {
  static unsigned counter = 0;
  auto now = static_cast<unsigned long long>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  unsigned long long tag = now ^ (reinterpret_cast<std::uintptr_t>(&counter) << 16) ^
                           (static_cast<unsigned long long>(++counter) << 40);
  char suffix[12];
  for (char& digit : suffix) {
    digit = "0123456789abcdefghijklmnopqrstuv"[tag & 31];
    tag >>= 5;
  }
  name.clear();
  for (std::string_view piece :
       {target, std::string_view(".hushmark-tmp."), std::string_view(suffix, sizeof suffix),
        std::string_view("\0", 1)}) {
    if (auto added = name.append(piece); !added) return added;
  }
  return {};
}

// The temporary file next to `target`, removed when the object goes unless
// it was renamed into place.
//
// Under the directory's lock it has one fixed name, which no other run uses
// meanwhile: what a killed run left there is removed first. Without the
// lock, each run picks a name of its own.
class Temporary {
 public:
  static Result<Temporary> create(std::string_view target, bool directoryLocked) {
    Temporary temp;
    if (directoryLocked) {
      for (std::string_view piece : {target, lockedSuffix}) {
        if (auto added = temp.name_.append(piece); !added) return fail(added.error());
      }
      removeFile(temp.name());
      auto file = createExclusive(temp.name(), true);
      if (file) {
        temp.file_ = std::move(*file);
        return temp;
      }
      // Left by a run that did not take the lock, or not removable.
      if (file.error() != Error::PathAlreadyExists) return fail(file.error());
    }
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
      if (auto named = temporaryName(target, temp.name_); !named) return fail(named.error());
      auto file = createExclusive(temp.name(), true);
      if (file) {
        temp.file_ = std::move(*file);
        return temp;
      }
      if (file.error() != Error::PathAlreadyExists) return fail(file.error());
    }
    return fail(Error::PathAlreadyExists);
  }
  Temporary(Temporary&&) = default;
  Temporary& operator=(Temporary&&) = delete;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() { discard(); }

  const File& file() const { return file_; }
  // The name without the NUL that the buffer keeps behind it.
  std::string_view name() const { return name_.view().substr(0, name_.size() - 1); }
  Status close() { return closeFile(file_); }
  void discard() {
    if (!name_.empty() && !renamed_) {
      file_ = File();
      removeFile(name());
    }
    name_.clear();
  }
  Status renameOnto(std::string_view target) {
    if (auto renamed = renameOver(name(), target); !renamed) return renamed;
    renamed_ = true;
    return {};
  }

 private:
  Temporary() = default;
  ByteBuffer name_;
  File file_;
  bool renamed_ = false;
};

// A rename refused for the file's place, where writing the file itself
// still works: another file system, a sticky directory or another user's
// file, a mount point that was not seen as one.
bool renameRefused(Error error) {
  return error == Error::FileBusy || error == Error::CrossDevice || error == Error::AccessDenied;
}

// Whether what the name leads to now is the file that was read (or none,
// where none was read).
Status checkSame(const std::optional<FileStatus>& now, const std::optional<FileIdentity>& read) {
  bool same = now ? read && now->identity == *read : !read;
  if (!same) return fail(Error::FileReplaced);
  return {};
}

Status checkStillThere(std::string_view path, const FileIdentity& read) {
  auto now = statusOf(path);
  if (!now) return fail(now.error());
  return checkSame(*now, read);
}

// Writes the content into whatever stands at `path` as it stands, creating
// a file there when nothing does: for a name that something the platform
// cannot look at has taken (a symbolic link to nothing, where the platform
// shows no such link), which this opens as the link, creating the file it
// names. On failure what was written is cut off again.
Status writeThrough(std::string_view path, std::span<const FileRange> kept,
                    std::span<const std::string_view> pieces) {
  auto file = openOrCreateForUpdate(path);
  if (!file) return fail(file.error());
  auto written = writeContent(*file, kept, pieces);
  if (!written) (void)truncateFile(*file, 0);
  return written;
}

// Replaces the content of the existing regular file `read` at `target`.
Status replaceRegularFile(std::string_view target, const FileStatus& status, const ReadFile& read,
                          std::span<const FileRange> kept,
                          std::span<const std::string_view> pieces) {
  // A new file would leave the file's other names (hard links, mounts)
  // with the old content, would not be protected as the old one was, or
  // would stay behind in a directory that keeps every name.
  bool inPlace = status.links > 1 || !newFileCanTakeProtection();
  if (!inPlace) {
    auto mounted = isMountedFile(target);
    if (!mounted) return fail(mounted.error());
    auto keeps = *mounted ? Result<bool>(false) : directoryKeepsNames(directoryPart(target));
    if (!keeps) return fail(keeps.error());
    inPlace = *mounted || *keeps;
  }
  if (inPlace) return rewriteInPlace(target, status.identity, kept, pieces);

  auto temp = Temporary::create(target, read.directoryLocked);
  if (!temp) {
    // The directory takes no new file, or the temporary name is too long
    // where the file's own is not: the file itself can still be written.
    if (temp.error() == Error::AccessDenied || temp.error() == Error::NameTooLong) {
      return rewriteInPlace(target, status.identity, kept, pieces);
    }
    return fail(temp.error());
  }
  if (auto written = writeContent(temp->file(), kept, pieces); !written) return written;
  // The protection as it is now, just before the rename, so that a change
  // made while the content was written is kept. Where owner, group, lists,
  // mode or flags cannot all be kept (another user's file, a group this
  // user is not in), the new file would not be the same file to everyone:
  // the old one is written in place instead.
  if (auto copied = copyProtection(target, temp->file()); !copied) return copied;
  auto same = sameProtection(target, temp->file());
  if (!same) return fail(same.error());
  if (!*same) {
    temp->discard();
    return rewriteInPlace(target, status.identity, kept, pieces);
  }
  if (auto closed = temp->close(); !closed) return closed;
  if (auto there = checkStillThere(target, status.identity); !there) return there;
  auto renamed = temp->renameOnto(target);
  if (!renamed && renameRefused(renamed.error())) {
    temp->discard();
    return rewriteInPlace(target, status.identity, kept, pieces);
  }
  return renamed;
}

}  // namespace

Status replaceFile(std::string_view path, const ReadFile& read, std::span<const FileRange> kept,
                   std::span<const std::string_view> pieces) {
  // The temporary file is always removed or renamed into place before an
  // interruption can end the process.
  DeferredInterrupts deferred;
  // A symbolic link at the name was put there after the file was read.
  auto resolved = resolveSymbolicLinks(path);
  if (!resolved) return fail(resolved.error());
  if (resolved->view() != path) return fail(Error::FileReplaced);
  std::string_view target = path;

  auto existing = statusOf(target);
  if (!existing) return fail(existing.error());
  if (auto there = checkSame(*existing, read.identity); !there) return there;
  if (*existing) {
    switch ((*existing)->kind) {
      case FileKind::Directory:
        return fail(Error::IsDir);
      case FileKind::Pipe:
        return fail(Error::UnsupportedFileType);
      case FileKind::Device:
        return writeToDevice(target, kept, pieces);
      case FileKind::Regular:
        break;
    }
    // Replacing needs only a writable directory; the file's own protection
    // against writing still holds.
    if (auto writable = checkWritable(target); !writable) return writable;
    return replaceRegularFile(target, **existing, read, kept, pieces);
  }

  // A file that does not exist yet is first made, empty, at its place, so
  // that the rewrite replaces that file and nothing else. A file that
  // appears there meanwhile is read and edited like any other; a name that
  // is taken by something the platform does not show is written through. A
  // reader sees no file, an empty one, or the whole new content; a failure
  // removes the file again (while the name still leads to it), for which
  // its name is kept with a NUL behind it before anything can fail.
  ByteBuffer placeholder;
  if (auto added = placeholder.append(target); !added) return added;
  if (auto added = placeholder.append('\0'); !added) return added;
  auto made = createExclusive(target, false);
  if (!made && made.error() == Error::PathAlreadyExists) {
    auto taken = statusOf(target);
    if (!taken) return fail(taken.error());
    if (*taken) return fail(Error::FileReplaced);
    return writeThrough(target, kept, pieces);
  }
  if (!made) return fail(made.error());
  auto status = statusOf(*made);
  if (!status) return fail(status.error());
  auto replaced = closeFile(*made);
  if (replaced) replaced = replaceRegularFile(target, *status, read, kept, pieces);
  if (!replaced) {
    auto now = statusOf(target);
    if (now && *now && (*now)->identity == status->identity) {
      removeFile(placeholder.view().substr(0, target.size()));
    }
  }
  return replaced;
}

}  // namespace hushmark
