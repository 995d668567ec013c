// Who may do what with a file on Windows.
#include <windows.h>

#include "files/protection.h"
#include "files/windows_file.h"

namespace hushmark {

// A new file cannot be given all that decides who may use the old one: the
// inheritance of each entry of its access list, its creation time and
// named streams; and where the system keeps permission bits beneath the
// list (Wine), the group's bits, which the list does not express, are lost.
bool newFileCanTakeProtection() {
  return false;
}

Status copyProtection(std::string_view, const File&) {
  return {};
}

Result<bool> sameProtection(std::string_view, const File&) {
  return false;
}

// An existing file is always written in place here.
Result<bool> isMountedFile(std::string_view) {
  return false;
}

Result<bool> directoryKeepsNames(std::string_view) {
  return false;
}

// The read-only attribute protects a file against writing, whatever its
// access list says.
Status checkWritable(std::string_view path) {
  DWORD attributes = attributesOf(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return fail(Error::AccessDenied);
  }
  return {};
}

}  // namespace hushmark
