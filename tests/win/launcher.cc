// A Windows-built test helper that starts a program with CreateProcessW, for
// what a Linux harness cannot hand a Windows program through Wine:
//
//   launcher [--stderr-pipe NAME] [--closed-stdout | --nowait-stdout]
//            [--hold FILE | --hold-writable FILE | --hold-for MILLISECONDS FILE]
//            [--lock-name-taken FILE]
//            PROGRAM TAIL
//
// The program's command line is PROGRAM in double quotes, a blank and TAIL,
// in which \uXXXX stands for the UTF-16 unit XXXX (so that unpaired
// surrogates can be passed). With --stderr-pipe the program's standard error
// is a named pipe \\.\pipe\NAME whose bytes the launcher copies to its own
// standard error; with --closed-stdout its standard output is a pipe whose
// reading end is closed; with --nowait-stdout it is a small pipe in
// non-blocking mode that the launcher starts reading only after a while and
// copies to its own standard output; with --hold the launcher keeps FILE
// open, sharing it with nobody, while the program runs (with --hold-for,
// only for that long after starting it); with --lock-name-taken an event
// holds the name of FILE's lock while the program runs. The launcher's exit
// code is the program's, or 255 when it cannot run it.
#include <windows.h>

#include <cwchar>
#include <string>

#include "files/file.h"
#include "files/lock_name.h"

namespace {

int failed(const char* what) {
  std::string line = std::string("launcher: ") + what + " failed\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
  return 255;
}

std::wstring decodeEscapes(const wchar_t* tail) {
  std::wstring decoded;
  for (const wchar_t* p = tail; *p != L'\0'; ++p) {
    if (p[0] == L'\\' && p[1] == L'u' && std::wcslen(p) >= 6) {
      decoded += static_cast<wchar_t>(std::wcstoul(std::wstring(p + 2, 4).c_str(), nullptr, 16));
      p += 5;
    } else {
      decoded += *p;
    }
  }
  return decoded;
}

HANDLE inheritable(HANDLE handle) {
  ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

// An event under the name that the lock of `path` has, as hushmark names it.
HANDLE takeLockName(const wchar_t* path) {
  char utf8[1024];
  int length = ::WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr);
  if (length <= 1) return nullptr;
  auto status = hushmark::statusOf(std::string_view(utf8, static_cast<std::size_t>(length - 1)));
  if (!status || !*status) return nullptr;
  hushmark::LockName name(u"Global\\", (*status)->identity);
  return ::CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>(name.get()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* pipeName = nullptr;
  bool closedStdout = false;
  bool nowaitStdout = false;
  const wchar_t* held = nullptr;
  DWORD heldShare = 0;
  DWORD heldFor = INFINITE;
  const wchar_t* lockNameTaken = nullptr;
  int next = 1;
  for (; next < argc; ++next) {
    if (std::wcscmp(argv[next], L"--stderr-pipe") == 0 && next + 1 < argc) {
      pipeName = argv[++next];
    } else if (std::wcscmp(argv[next], L"--closed-stdout") == 0) {
      closedStdout = true;
    } else if (std::wcscmp(argv[next], L"--nowait-stdout") == 0) {
      nowaitStdout = true;
    } else if (std::wcscmp(argv[next], L"--hold") == 0 && next + 1 < argc) {
      held = argv[++next];
    } else if (std::wcscmp(argv[next], L"--hold-writable") == 0 && next + 1 < argc) {
      held = argv[++next];
      heldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    } else if (std::wcscmp(argv[next], L"--hold-for") == 0 && next + 2 < argc) {
      heldFor = static_cast<DWORD>(std::wcstoul(argv[++next], nullptr, 10));
      held = argv[++next];
    } else if (std::wcscmp(argv[next], L"--lock-name-taken") == 0 && next + 1 < argc) {
      lockNameTaken = argv[++next];
    } else {
      break;
    }
  }
  if (argc - next != 2) return failed("usage");
  std::wstring program = argv[next];
  std::wstring commandLine = L"\"" + program + L"\" " + decodeEscapes(argv[next + 1]);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable(::GetStdHandle(STD_INPUT_HANDLE));
  startup.hStdOutput = inheritable(::GetStdHandle(STD_OUTPUT_HANDLE));
  startup.hStdError = inheritable(::GetStdHandle(STD_ERROR_HANDLE));

  HANDLE server = INVALID_HANDLE_VALUE;
  if (pipeName != nullptr) {
    std::wstring path = std::wstring(L"\\\\.\\pipe\\") + pipeName;
    server = ::CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                65536, 65536, 0, nullptr);
    if (server == INVALID_HANDLE_VALUE) return failed("CreateNamedPipeW");
    startup.hStdError =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    if (startup.hStdError == INVALID_HANDLE_VALUE) return failed("opening the pipe");
  }
  if (closedStdout) {
    HANDLE reader = nullptr;
    if (!::CreatePipe(&reader, &startup.hStdOutput, &inherit, 0)) return failed("CreatePipe");
    ::CloseHandle(reader);
  }

  HANDLE slowReader = INVALID_HANDLE_VALUE;
  if (nowaitStdout) {
    const wchar_t* path = L"\\\\.\\pipe\\hushmark-test-nowait";
    slowReader = ::CreateNamedPipeW(path, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64,
                                    64, 0, nullptr);
    if (slowReader == INVALID_HANDLE_VALUE) return failed("CreateNamedPipeW");
    startup.hStdOutput = ::CreateFileW(path, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, &inherit,
                                       OPEN_EXISTING, 0, nullptr);
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    if (startup.hStdOutput == INVALID_HANDLE_VALUE ||
        !::SetNamedPipeHandleState(startup.hStdOutput, &mode, nullptr, nullptr)) {
      return failed("making a non-blocking pipe");
    }
  }

  HANDLE heldFile = INVALID_HANDLE_VALUE;
  if (held != nullptr) {
    heldFile = ::CreateFileW(held, GENERIC_READ | GENERIC_WRITE, heldShare, nullptr, OPEN_EXISTING,
                             0, nullptr);
    if (heldFile == INVALID_HANDLE_VALUE) return failed("holding the file");
  }
  if (lockNameTaken != nullptr && takeLockName(lockNameTaken) == nullptr) {
    return failed("taking the lock's name");
  }

  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
    return failed("CreateProcessW");
  }
  ::CloseHandle(process.hThread);
  if (heldFor != INFINITE) {
    ::Sleep(heldFor);
    ::CloseHandle(heldFile);
  }
  if (pipeName != nullptr) {
    // Only the child holds the writing end now: the reads end with its exit.
    ::CloseHandle(startup.hStdError);
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(server, chunk, sizeof chunk, &got, nullptr) && got > 0) {
      DWORD written = 0;
      ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), chunk, got, &written, nullptr);
    }
  }
  if (nowaitStdout) {
    ::CloseHandle(startup.hStdOutput);
    ::Sleep(300);
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(slowReader, chunk, sizeof chunk, &got, nullptr) && got > 0) {
      DWORD written = 0;
      ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), chunk, got, &written, nullptr);
    }
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 255;
  ::GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
