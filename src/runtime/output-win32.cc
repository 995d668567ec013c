// The standard handles and complete writes. Pipes and files get the exact
// bytes with WriteFile; a console gets the text as UTF-16 with
// WriteConsoleW, since it would read bytes in its own code page.
#include <windows.h>

#include "base/wtf8.h"
#include "runtime/output.h"

namespace hushmark {

namespace {

// The text of WTF-8 `bytes` on a console, a piece at a time, each piece
// ending where a sequence ends.
Status writeConsole(HANDLE console, std::string_view bytes) {
  constexpr std::size_t pieceSize = 4096;
  char16_t units[pieceSize];
  while (!bytes.empty()) {
    std::size_t end = wtf8CompleteEnd(bytes.substr(0, pieceSize));
    if (end == 0) end = bytes.size() < pieceSize ? bytes.size() : pieceSize;
    std::size_t count = decodeWtf8ForDisplay(bytes.substr(0, end), units);
    bytes.remove_prefix(end);
    for (const char16_t* next = units; count > 0;) {
      DWORD written = 0;
      if (!::WriteConsoleW(console, next, static_cast<DWORD>(count), &written, nullptr)) {
        return fail(errorFromSystem(static_cast<int>(::GetLastError())));
      }
      if (written == 0) return fail(Error::InputOutput);
      next += written;
      count -= written;
    }
  }
  return {};
}

}  // namespace

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
  if (DWORD mode = 0; !bytes.empty() && ::GetConsoleMode(file, &mode)) {
    return writeConsole(file, bytes);
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
