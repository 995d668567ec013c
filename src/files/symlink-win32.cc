// Symbolic links on Windows: the target as a reparse point stores it.
#include <windows.h>
#include <winioctl.h>

#include "files/symlink.h"
#include "files/windows_file.h"
#include "files/windows_file_data.h"

namespace hushmark {

// The target of a symbolic link as the link stores it; the system answers
// only for a link it can open as such.
Result<std::optional<ByteBuffer>> readSymbolicLink(std::string_view path) {
  DWORD attributes = attributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return std::nullopt;
  }
  auto link = openFile(path, 0, shareAll, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
  if (!link) return std::nullopt;
  ByteBuffer data;
  if (auto reserved = data.reserveExtra(MAXIMUM_REPARSE_DATA_BUFFER_SIZE); !reserved) {
    return fail(reserved.error());
  }
  DWORD got = 0;
  if (!::DeviceIoControl(link->handle(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.spare(),
                         MAXIMUM_REPARSE_DATA_BUFFER_SIZE, &got, nullptr)) {
    return std::nullopt;
  }
  return symbolicLinkTarget({reinterpret_cast<const unsigned char*>(data.spare()), got});
}

}  // namespace hushmark
