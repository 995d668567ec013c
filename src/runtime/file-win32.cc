// The exclude file's file operations on Windows: paths with either
// separator, drive and share roots, the same error names as elsewhere, a
// rewrite through a temporary file renamed into place, and a lock that is a
// named mutex.
#include <windows.h>

#include <new>
#include <string>
#include <utility>

#include "runtime/buffer.h"
#include "runtime/file.h"
#include "runtime/interrupt.h"
#include "runtime/output.h"
#include "runtime/windows_path.h"
#include "runtime/wtf8.h"

namespace hushmark {

namespace {

// A path as the system calls take it.
class WidePath {
 public:
  static Result<WidePath> from(std::string_view path) {
    WidePath wide;
    if (auto added = appendFileSystemPath(wide.text_, path); !added) return fail(added.error());
    return wide;
  }
  const wchar_t* get() const { return reinterpret_cast<const wchar_t*>(text_.c_str()); }
  Status append(std::wstring_view more) {
    return text_.append(
        std::u16string_view(reinterpret_cast<const char16_t*>(more.data()), more.size()));
  }

 private:
  Utf16Text text_;
};

bool isMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_BAD_NETPATH || code == ERROR_BAD_NET_NAME || code == ERROR_INVALID_DRIVE;
}

DWORD attributesOf(std::string_view path) {
  auto wide = WidePath::from(path);
  if (!wide) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(wide->get());
}

bool isDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The error for a failed operation on `path`, named as on other platforms:
// a missing directory on the way is FileNotFound unless a file stands where
// a directory should be (NotDir); a refusal on a directory is IsDir.
Error fileError(DWORD code, std::string_view path) {
  if (isMissing(code) || code == ERROR_DIRECTORY) {
    for (std::string_view directory = windowsDirectoryPart(path);
         !directory.empty() && directory.size() < path.size();
         path = directory, directory = windowsDirectoryPart(directory)) {
      DWORD attributes = attributesOf(directory);
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      if (!isDirectory(attributes)) return Error::NotDir;
      break;
    }
  }
  if (code == ERROR_ACCESS_DENIED && isDirectory(attributesOf(path))) return Error::IsDir;
  return errorFromSystem(static_cast<int>(code));
}

std::unexpected<Error> failFor(std::string_view path) {
  return fail(fileError(::GetLastError(), path));
}

std::unexpected<Error> failFromLastError() {
  return fail(errorFromSystem(static_cast<int>(::GetLastError())));
}

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openForInspection(const WidePath& path) {
  return ::CreateFileW(path.get(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

Status writePieces(const File& file, std::span<const std::string_view> pieces) {
  for (std::string_view piece : pieces) {
    if (auto written = writeAll(file.handle(), piece); !written) return written;
  }
  return {};
}

// Reads `length` bytes at `offset` of `file` into `out`.
Status readAt(const File& file, std::uint64_t offset, std::uint64_t length, ByteBuffer& out) {
  if (auto reserved = out.reserveExtra(static_cast<std::size_t>(length)); !reserved) {
    return reserved;
  }
  while (length > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD want = length < 0x40000000 ? static_cast<DWORD>(length) : 0x40000000;
    DWORD got = 0;
    if (!::ReadFile(file.handle(), out.spare(), want, &got, &at) &&
        ::GetLastError() != ERROR_HANDLE_EOF) {
      return failFromLastError();
    }
    // The file is shorter than it said.
    if (got == 0) return fail(Error::InputOutput);
    out.commit(got);
    offset += got;
    length -= got;
  }
  return {};
}

// Copies the range into `out` through a buffer, reading at explicit
// offsets so that the source's own position does not matter.
Status copyRange(const FileRange& range, const File& out) {
  ByteBuffer chunk;
  constexpr std::uint64_t chunkSize = 64 * 1024;
  for (std::uint64_t done = 0; done < range.length;) {
    std::uint64_t length = range.length - done < chunkSize ? range.length - done : chunkSize;
    chunk.clear();
    if (auto read = readAt(range.file, range.offset + done, length, chunk); !read) return read;
    if (auto written = writeAll(out.handle(), chunk.view()); !written) return written;
    done += length;
  }
  return {};
}

// Writes all of `bytes` at `offset`.
Status writeAt(const File& file, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD want = bytes.size() < 0x40000000 ? static_cast<DWORD>(bytes.size()) : 0x40000000;
    DWORD wrote = 0;
    if (!::WriteFile(file.handle(), bytes.data(), want, &wrote, &at)) return failFromLastError();
    bytes.remove_prefix(wrote);
    offset += wrote;
  }
  return {};
}

Status truncateAt(const File& file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(file.handle(), FileEndOfFileInfo, &end, sizeof end)) {
    return failFromLastError();
  }
  return {};
}

bool sameFile(const File& a, const File& b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return ::GetFileInformationByHandle(a.handle(), &first) &&
         ::GetFileInformationByHandle(b.handle(), &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// Writes straight into an existing file that is a device.
Status writeInPlace(const WidePath& path, std::string_view bytePath,
                    std::span<const FileRange> kept, std::span<const std::string_view> pieces) {
  HANDLE handle = ::CreateFileW(path.get(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return failFor(bytePath);
  File out(handle);
  for (const FileRange& range : kept) {
    if (auto copied = copyRange(range, out); !copied) return copied;
  }
  return writePieces(out, pieces);
}

// Rewrites an existing file in place where a new file in its place would
// not be the same file to everyone (it has other names): when the kept
// range is the whole of this very file the rest is appended and cut off
// again if that fails; otherwise the old bytes are written back when the
// new content cannot be written whole.
Status rewriteInPlace(const WidePath& path, std::string_view bytePath,
                      std::span<const FileRange> kept, std::span<const std::string_view> pieces) {
  HANDLE handle = ::CreateFileW(path.get(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return failFor(bytePath);
  File file(handle);
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle, &size)) return failFromLastError();
  auto oldSize = static_cast<std::uint64_t>(size.QuadPart);

  ByteBuffer content;
  if (kept.size() == 1 && kept[0].offset == 0 && kept[0].length == oldSize &&
      sameFile(kept[0].file, file)) {
    for (std::string_view piece : pieces) {
      if (auto added = content.append(piece); !added) return added;
    }
    auto written = writeAt(file, content.view(), oldSize);
    if (!written) (void)truncateAt(file, oldSize);
    return written;
  }
  ByteBuffer old;
  if (auto read = readAt(file, 0, oldSize, old); !read) return read;
  for (const FileRange& range : kept) {
    if (auto read = readAt(range.file, range.offset, range.length, content); !read) return read;
  }
  for (std::string_view piece : pieces) {
    if (auto added = content.append(piece); !added) return added;
  }
  auto written = writeAt(file, content.view(), 0);
  if (written) written = truncateAt(file, content.size());
  if (!written) {
    (void)writeAt(file, old.view(), 0);
    (void)truncateAt(file, old.size());
  }
  return written;
}

// A name for the temporary file that no other run picks.
std::wstring temporarySuffix() {
  static unsigned counter = 0;
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  unsigned long long tag = static_cast<unsigned long long>(now.QuadPart) ^
                           (static_cast<unsigned long long>(::GetCurrentProcessId()) << 20) ^
                           (static_cast<unsigned long long>(++counter) << 40);
  std::wstring suffix = L".hushmark-tmp.";
  for (int i = 0; i < 12; ++i) {
    suffix.push_back(L"0123456789abcdefghijklmnopqrstuv"[tag & 31]);
    tag >>= 5;
  }
  return suffix;
}

// The final path of an open file or directory, links and junctions
// followed, as "\\?\C:\..." or "\\?\UNC\...".
Result<std::wstring> finalPath(HANDLE handle) {
  try {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      DWORD length =
          ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (length == 0) return failFromLastError();
      if (length < path.size()) {
        path.resize(length);
        return path;
      }
      path.resize(length);
    }
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace

void File::close(NativeFile handle) {
  ::CloseHandle(handle);
}

Result<File> openForReading(std::string_view path) {
  auto wide = WidePath::from(path);
  if (!wide) return fail(wide.error());
  // Backup semantics lets a directory be opened, so that it is told apart.
  HANDLE handle = ::CreateFileW(wide->get(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return failFor(path);
  File file(handle);
  DWORD type = ::GetFileType(handle);
  if (type == FILE_TYPE_PIPE) return fail(Error::UnsupportedFileType);
  if (type == FILE_TYPE_DISK) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(handle, &information)) return failFromLastError();
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return fail(Error::IsDir);
  }
  return file;
}

std::uint64_t sizeHint(const File& file) {
  LARGE_INTEGER size;
  if (::GetFileType(file.handle()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.handle(), &size) ||
      size.QuadPart < 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

Result<std::size_t> readSome(const File& file, char* into, std::size_t capacity) {
  DWORD want = capacity < 0x40000000 ? static_cast<DWORD>(capacity) : 0x40000000;
  DWORD got = 0;
  if (!::ReadFile(file.handle(), into, want, &got, nullptr)) {
    DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return 0;
    return fail(errorFromSystem(static_cast<int>(code)));
  }
  return got;
}

// The system names the file that a handle finally reaches, whether the
// path went through a symbolic link (which Wine shows without its reparse
// attribute) or not; a path that opens no file, or whose final name the
// system cannot tell, stays as it was given.
Result<ByteBuffer> resolveSymbolicLinks(std::string_view path) {
  ByteBuffer result;
  DWORD attributes = attributesOf(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && !isDirectory(attributes)) {
    auto wide = WidePath::from(path);
    if (!wide) return fail(wide.error());
    HANDLE handle = openForInspection(*wide);
    if (handle != INVALID_HANDLE_VALUE) {
      auto final = finalPath(handle);
      ::CloseHandle(handle);
      if (!final && final.error() == Error::OutOfMemory) return fail(final.error());
      if (final) {
        std::u16string_view units(reinterpret_cast<const char16_t*>(final->data()), final->size());
        if (auto added = appendWtf8(result, units); !added) return fail(added.error());
        return result;
      }
    }
  }
  if (auto added = result.append(path); !added) return fail(added.error());
  return result;
}

std::string_view directoryPart(std::string_view path) {
  return windowsDirectoryPart(path);
}

Status createDirectories(std::string_view directory) {
  if (directory.empty() || isDirectory(attributesOf(directory))) return {};
  // Outermost first: every prefix past the root that ends before a
  // separator, then the whole path.
  std::size_t root = windowsRootLength(directory);
  for (std::size_t end = root + 1; end <= directory.size(); ++end) {
    if (end < directory.size() && !isWindowsSeparator(directory[end])) continue;
    if (isWindowsSeparator(directory[end - 1])) continue;
    std::string_view prefix = directory.substr(0, end);
    auto wide = WidePath::from(prefix);
    if (!wide) return fail(wide.error());
    if (::CreateDirectoryW(wide->get(), nullptr)) continue;
    DWORD code = ::GetLastError();
    // An existing directory may also answer with a refusal (a drive's root,
    // a share): it is fine as it is.
    DWORD found = ::GetFileAttributesW(wide->get());
    if (isDirectory(found)) continue;
    if (found != INVALID_FILE_ATTRIBUTES) return fail(Error::NotDir);
    return fail(fileError(code, prefix));
  }
  return {};
}

namespace {

// The name of the mutex that serialises the edits in one directory:
// derived from the directory's final path, case-folded as the file system
// compares names, and hashed to fit the length of a kernel object's name.
// Global, so that runs in the user's other sessions see it too.
Result<std::wstring> lockName(std::wstring folded) {
  ::CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  unsigned long long first = 0xcbf29ce484222325ull;
  unsigned long long second = 0x84222325cbf29ce4ull;
  for (wchar_t unit : folded) {
    first = (first ^ static_cast<unsigned long long>(unit)) * 0x100000001b3ull;
    second = (second ^ static_cast<unsigned long long>(unit)) * 0x9e3779b97f4a7c15ull;
    second ^= second >> 29;
  }
  try {
    std::wstring name = L"Global\\hushmark-exclude-lock-";
    for (unsigned long long part : {first, second}) {
      for (int shift = 60; shift >= 0; shift -= 4) {
        name.push_back(L"0123456789abcdef"[(part >> shift) & 15]);
      }
    }
    return name;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

}  // namespace

void DirectoryLock::unlock(NativeFile handle) {
  ::ReleaseMutex(handle);
  ::CloseHandle(handle);
}

Result<std::optional<DirectoryLock>> lockDirectory(std::string_view directory) {
  std::string_view named = directory.empty() ? std::string_view(".") : directory;
  auto wide = WidePath::from(named);
  if (!wide) return fail(wide.error());
  HANDLE handle = openForInspection(*wide);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = ::GetLastError();
    if (isMissing(code) || code == ERROR_DIRECTORY) return std::nullopt;
    // A directory that may not be looked at: go on without a lock.
    if (code == ERROR_ACCESS_DENIED) return DirectoryLock();
    return fail(fileError(code, named));
  }
  auto final = finalPath(handle);
  ::CloseHandle(handle);
  if (!final && final.error() == Error::OutOfMemory) return fail(final.error());
  if (!final) {
    // Where the system cannot tell the final path (Wine cannot past
    // MAX_PATH), the full path names the lock.
    Utf16Text full;
    if (auto made = appendFullPath(full, named); !made) return fail(made.error());
    try {
      final = std::wstring(reinterpret_cast<const wchar_t*>(full.c_str()), full.size());
    } catch (const std::bad_alloc&) {
      return fail(Error::OutOfMemory);
    }
  }
  auto name = lockName(std::move(*final));
  if (!name) return fail(name.error());
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name->c_str());
  if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // Where the global namespace is closed to this user, runs in the same
    // session still take turns.
    name->replace(0, 6, L"Local");
    mutex = ::CreateMutexW(nullptr, FALSE, name->c_str());
  }
  if (mutex == nullptr) {
    // A mutex of that name made by another user, which this one may not
    // open: go on without a lock, as on a file system that offers none.
    if (::GetLastError() == ERROR_ACCESS_DENIED) return DirectoryLock();
    return failFromLastError();
  }
  DirectoryLock lock(mutex);
  // A run that ended while holding it (abandoned) left nothing half done:
  // its rewrite is one rename.
  DWORD waited = ::WaitForSingleObject(mutex, static_cast<DWORD>(lockPatienceSeconds) * 1000);
  if (waited == WAIT_TIMEOUT) return fail(Error::ExcludeFileLocked);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return failFromLastError();
  return std::optional<DirectoryLock>(std::move(lock));
}

Status replaceFile(std::string_view path, std::span<const FileRange> kept,
                   std::span<const std::string_view> pieces) {
  // The temporary file is always removed or renamed into place before an
  // interruption can end the process.
  DeferredInterrupts deferred;
  auto target = resolveSymbolicLinks(path);
  if (!target) return fail(target.error());
  std::string_view targetBytes = target->view();
  auto targetPath = WidePath::from(targetBytes);
  if (!targetPath) return fail(targetPath.error());

  DWORD existing = ::GetFileAttributesW(targetPath->get());
  bool exists = existing != INVALID_FILE_ATTRIBUTES;
  if (!exists && !isMissing(::GetLastError())) return failFor(targetBytes);
  if (exists) {
    if (isDirectory(existing)) return fail(Error::IsDir);
    // Replacing needs only a writable directory; the file's own protection
    // against writing still holds.
    if ((existing & FILE_ATTRIBUTE_READONLY) != 0) return fail(Error::AccessDenied);
    HANDLE handle = openForInspection(*targetPath);
    if (handle == INVALID_HANDLE_VALUE) return failFor(targetBytes);
    DWORD type = ::GetFileType(handle);
    BY_HANDLE_FILE_INFORMATION information{};
    bool known = ::GetFileInformationByHandle(handle, &information);
    ::CloseHandle(handle);
    if (type == FILE_TYPE_PIPE) return fail(Error::UnsupportedFileType);
    // A device is written to, never replaced.
    if (type != FILE_TYPE_DISK) return writeInPlace(*targetPath, targetBytes, kept, pieces);
    // A new file would leave the file's other names with the old content.
    if (known && information.nNumberOfLinks > 1) {
      return rewriteInPlace(*targetPath, targetBytes, kept, pieces);
    }
  }

  auto tempPath = WidePath::from(targetBytes);
  if (!tempPath) return fail(tempPath.error());
  HANDLE handle = INVALID_HANDLE_VALUE;
  try {
    std::size_t attempt = 0;
    for (; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
      tempPath = WidePath::from(targetBytes);
      if (!tempPath) return fail(tempPath.error());
      if (auto added = tempPath->append(temporarySuffix()); !added) return added;
      // The new file takes over the attributes that describe the file, not
      // its content.
      DWORD attributes =
          exists ? existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                 : 0;
      handle = ::CreateFileW(tempPath->get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle != INVALID_HANDLE_VALUE) break;
      DWORD code = ::GetLastError();
      if (code == ERROR_FILE_EXISTS) continue;
      // The directory takes no new file, or the temporary name is too long
      // where the file's own is not: the file itself can still be written.
      if (exists && (code == ERROR_ACCESS_DENIED || code == ERROR_FILENAME_EXCED_RANGE)) {
        return rewriteInPlace(*targetPath, targetBytes, kept, pieces);
      }
      return fail(fileError(code, targetBytes));
    }
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
  if (handle == INVALID_HANDLE_VALUE) return fail(Error::PathAlreadyExists);
  File temp(handle);
  auto discard = [&](Error error) -> Status {
    temp = File();
    ::DeleteFileW(tempPath->get());
    return fail(error);
  };

  for (const FileRange& range : kept) {
    if (auto copied = copyRange(range, temp); !copied) return discard(copied.error());
  }
  // The old file cannot be replaced while it is open.
  for (const FileRange& range : kept) range.file = File();
  if (auto written = writePieces(temp, pieces); !written) return discard(written.error());
  if (!::CloseHandle(temp.release()))
    return discard(errorFromSystem(static_cast<int>(::GetLastError())));
  // A scanner or an indexer that has the old file open for a moment makes
  // the rename fail: it is tried again for a while.
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(tempPath->get(), targetPath->get(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return {};
    }
    DWORD code = ::GetLastError();
    bool passing = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
                   code == ERROR_ACCESS_DENIED;
    if (!passing || attempt == 20) return discard(fileError(code, targetBytes));
    ::Sleep(50);
  }
}

}  // namespace hushmark
