#include "files/windows_file.h"

#include "files/windows_path.h"

namespace hushmark {

namespace {

bool isMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_BAD_NETPATH || code == ERROR_BAD_NET_NAME || code == ERROR_INVALID_DRIVE;
}

// How long an open that another program's hold refuses is tried again.
constexpr ULONGLONG heldFileRetryMilliseconds = 1000;

bool isDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

Result<WidePath> WidePath::from(std::string_view path) {
  WidePath wide;
  if (!path.starts_with("\\\\?\\")) {
    if (auto added = appendFileSystemPath(wide.text_, path); !added) return fail(added.error());
    return wide;
  }
  for (;;) {
    std::size_t slash = path.find('/');
    if (auto added = wide.text_.appendWtf8(path.substr(0, slash)); !added) {
      return fail(added.error());
    }
    if (slash == std::string_view::npos) return wide;
    if (auto added = wide.text_.append(u'\\'); !added) return fail(added.error());
    path.remove_prefix(slash + 1);
  }
}

DWORD attributesOf(std::string_view path) {
  auto wide = WidePath::from(path);
  if (!wide) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(wide->get());
}

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

Result<File> openFile(std::string_view path, DWORD access, DWORD share, DWORD disposition,
                      DWORD flags, SECURITY_ATTRIBUTES* security) {
  auto wide = WidePath::from(path);
  if (!wide) return fail(wide.error());
  // Virus scanners, indexers and sync tools open a file for a moment and
  // share it with nobody meanwhile: such an open is tried again, at growing
  // intervals, for a while (well inside the time a run waits for the
  // exclude file's lock) before the refusal counts, as a sharing violation
  // whichever of the two the system named.
  const ULONGLONG deadline = ::GetTickCount64() + heldFileRetryMilliseconds;
  for (DWORD pause = 1;; pause = pause < 32 ? pause * 2 : pause) {
    HANDLE handle =
        ::CreateFileW(wide->get(), access, share, security, disposition, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return File(handle);
    DWORD code = ::GetLastError();
    bool held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
    if (!held) return fail(fileError(code, path));
    if (::GetTickCount64() >= deadline) return fail(Error::SharingViolation);
    ::Sleep(pause);
  }
}

}  // namespace hushmark
