// What a Windows standard error can show: a console (with virtual-terminal
// processing, or with text attributes only) or the named pipe that msys and
// cygwin use as a pseudo-terminal.
#include <windows.h>

#include <cstddef>

#include "runtime/color.h"

namespace hushmark {

namespace {

// The pipe's name as the system reports it, e.g.
// "\msys-1888ae32e00d56aa-pty0-to-master".
bool isPseudoTerminalPipe(HANDLE handle) {
  if (::GetFileType(handle) != FILE_TYPE_PIPE) return false;
  // FILE_NAME_INFO: a length in bytes, then the name, not NUL-terminated.
  alignas(FILE_NAME_INFO) char storage[sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(WCHAR)];
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(storage);
  if (!::GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof storage)) return false;
  std::size_t units = info->FileNameLength / sizeof(WCHAR);
  return isPseudoTerminalPipeName(
      std::u16string_view(reinterpret_cast<const char16_t*>(info->FileName), units));
}

}  // namespace

TerminalInfo inspectStandardError(const Environment&) {
  TerminalInfo info;
  HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return info;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    // Switched on when it can be, and left on.
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
        ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      info.takesEscapes = true;
      return info;
    }
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (::GetConsoleScreenBufferInfo(handle, &screen)) {
      info.hasConsoleAttributes = true;
      info.savedAttributes = screen.wAttributes;
    }
    return info;
  }
  info.pseudoTerminalPipe = isPseudoTerminalPipe(handle);
  return info;
}

void setConsoleAttributes(std::uint16_t attributes) {
  ::SetConsoleTextAttribute(::GetStdHandle(STD_ERROR_HANDLE), attributes);
}

}  // namespace hushmark
