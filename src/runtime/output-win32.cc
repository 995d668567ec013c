// The standard handles and complete writes with WriteFile. A console takes
// the program's UTF-8 bytes as they are; nothing is converted.
#include <windows.h>

#include "runtime/output.h"

namespace hushmark {

NativeFile standardOutput() {
  return ::GetStdHandle(STD_OUTPUT_HANDLE);
}
NativeFile standardError() {
  return ::GetStdHandle(STD_ERROR_HANDLE);
}

Status writeAll(NativeFile file, std::string_view bytes) {
  // A missing standard handle reads as a stream that takes no writes.
  if (!bytes.empty() && (file == nullptr || file == INVALID_HANDLE_VALUE)) {
    return fail(Error::NotOpenForWriting);
  }
  while (!bytes.empty()) {
    // WriteFile counts in 32 bits; a pipe may take less than it was given.
    DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
      return fail(errorFromSystem(static_cast<int>(::GetLastError())));
    }
    if (written == 0) {
      // A pipe in non-blocking mode that is full for now: wait until it
      // takes more. Anything else that takes nothing would loop for ever.
      if (::GetFileType(file) != FILE_TYPE_PIPE) return fail(Error::InputOutput);
      ::Sleep(1);
      continue;
    }
    bytes.remove_prefix(written);
  }
  return {};
}

}  // namespace hushmark
