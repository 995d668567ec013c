// Windows only: what the Windows file primitives share. Paths as the system
// calls take them, errors named as on other platforms, and opening a file.
#pragma once

#include <windows.h>

#include <string_view>

#include "base/error.h"
#include "base/wtf8.h"
#include "files/file.h"

namespace hushmark {

// A path as the system calls take it: a long one in its "\\?\" form (see
// appendFileSystemPath). A "\\?\" path is handed to the file system as it
// stands, where "/" separates nothing: it becomes "\".
class WidePath {
 public:
  static Result<WidePath> from(std::string_view path);
  const wchar_t* get() const { return reinterpret_cast<const wchar_t*>(text_.c_str()); }

 private:
  Utf16Text text_;
};

// The attributes of what `path` names; INVALID_FILE_ATTRIBUTES when there
// is nothing, or when they cannot be had.
DWORD attributesOf(std::string_view path);

// The error for a failed operation on `path`, named as on other platforms:
// a missing directory on the way is FileNotFound unless a file stands where
// a directory should be (NotDir); a refusal on a directory is IsDir.
Error fileError(DWORD code, std::string_view path);

inline constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// CreateFileW on `path`, its failure named by fileError.
Result<File> openFile(std::string_view path, DWORD access, DWORD share, DWORD disposition,
                      DWORD flags = FILE_ATTRIBUTE_NORMAL, SECURITY_ATTRIBUTES* security = nullptr);

}  // namespace hushmark
