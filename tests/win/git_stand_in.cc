// A stand-in for git.exe on Windows, answering from files that the test
// puts next to it. Every call appends its word count and its words, each
// as WTF-8 and NUL-terminated, to "calls". For the first word W it then
// writes "W.errsize" bytes of 'e' and the file "W.err" to standard error,
// "W.outsize" bytes of 'o' and the file "W.out" to standard output, sleeps
// for good if "W.hang" exists, and exits with the number in "W.code" (0
// without). While a call for W runs, "index.lock" exists if "W.lock" does;
// "W.spawn" names the one word of a copy that it starts and leaves running;
// "W.sleep" holds milliseconds to wait before exiting. Each call also
// leaves "context": its working directory, the value of HUSHMARK_PROBE and
// what it read from standard input, one a line. With "launch" beside it, it
// is a launcher, as an installed git.exe may be: it runs itself again as a
// plain child with its streams, waits, and exits with that run's code.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring here;

std::string wtf8(const wchar_t* text) {
  std::string out;
  for (const wchar_t* at = text; *at != 0; ++at) {
    unsigned point = static_cast<unsigned short>(*at);
    unsigned next = static_cast<unsigned short>(at[1]);
    if (point >= 0xd800 && point < 0xdc00 && next >= 0xdc00 && next < 0xe000) {
      point = 0x10000 + ((point - 0xd800) << 10) + (next - 0xdc00);
      ++at;
    }
    if (point < 0x80) {
      out += static_cast<char>(point);
    } else if (point < 0x800) {
      out += static_cast<char>(0xc0 | (point >> 6));
      out += static_cast<char>(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
      out += static_cast<char>(0xe0 | (point >> 12));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (point & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (point >> 18));
      out += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (point & 0x3f));
    }
  }
  return out;
}

bool readFile(const std::wstring& name, std::string& content) {
  HANDLE file = CreateFileW((here + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) content.append(chunk, got);
  CloseHandle(file);
  return true;
}

void writeAll(HANDLE to, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    if (!WriteFile(to, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote,
                   nullptr)) {
      ExitProcess(99);
    }
    done += wrote;
  }
}

void writeStream(HANDLE to, const std::wstring& word, const wchar_t* suffix, char fill) {
  std::string content;
  if (readFile(word + suffix + L"size", content)) {
    std::size_t count = std::strtoull(content.c_str(), nullptr, 10);
    std::string block(65536, fill);
    for (; count >= block.size(); count -= block.size()) writeAll(to, block);
    writeAll(to, block.substr(0, count));
  }
  content.clear();
  if (readFile(word + suffix, content)) writeAll(to, content);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  here.assign(path, length);
  here.resize(here.find_last_of(L"\\/") + 1);

  std::string launch;
  if (readFile(L"launch", launch) &&
      GetEnvironmentVariableW(L"HUSHMARK_STAND_IN_LAUNCHED", nullptr, 0) == 0) {
    SetEnvironmentVariableW(L"HUSHMARK_STAND_IN_LAUNCHED", L"1");
    std::wstring line = GetCommandLineW();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(path, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
      ExitProcess(97);
    }
    CloseHandle(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 97;
    GetExitCodeProcess(started.hProcess, &code);
    ExitProcess(code);
  }

  std::string log = std::to_string(argc - 1) + '\0';
  for (int i = 1; i < argc; ++i) log += wtf8(argv[i]) + '\0';
  // Runs at the same time append to the one log.
  HANDLE calls = CreateFileW((here + L"calls").c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  writeAll(calls, log);
  CloseHandle(calls);

  wchar_t cwd[MAX_PATH];
  DWORD cwdLength = GetCurrentDirectoryW(MAX_PATH, cwd);
  wchar_t probe[256];
  DWORD probeLength = GetEnvironmentVariableW(L"HUSHMARK_PROBE", probe, 256);
  std::string input;
  char chunk[4096];
  DWORD got = 0;
  HANDLE stdinHandle = GetStdHandle(STD_INPUT_HANDLE);
  while (stdinHandle != nullptr && ReadFile(stdinHandle, chunk, sizeof chunk, &got, nullptr) &&
         got > 0) {
    input.append(chunk, got);
  }
  HANDLE context =
      CreateFileW((here + L"context").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_ALWAYS, 0, nullptr);
  writeAll(context, wtf8(std::wstring(cwd, cwdLength).c_str()) + "\n" +
                        wtf8(std::wstring(probe, probeLength < 256 ? probeLength : 0).c_str()) +
                        "\n" + input);
  CloseHandle(context);

  std::wstring word = argc > 1 ? argv[1] : L"";
  std::string ignored;
  bool locks = readFile(word + L".lock", ignored);
  if (locks) {
    CloseHandle(CreateFileW((here + L"index.lock").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            0, nullptr));
  }
  std::string spawn;
  if (readFile(word + L".spawn", spawn)) {
    std::wstring line = L"\"" + here + L"git.exe\" " + std::wstring(spawn.begin(), spawn.end());
    // Like a daemon, it keeps none of this call's streams and no console.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &startup, &started)) {
      ExitProcess(98);
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
  writeStream(GetStdHandle(STD_ERROR_HANDLE), word, L".err", 'e');
  writeStream(GetStdHandle(STD_OUTPUT_HANDLE), word, L".out", 'o');
  if (readFile(word + L".hang", ignored)) Sleep(INFINITE);
  std::string sleep;
  if (readFile(word + L".sleep", sleep)) Sleep(std::strtoul(sleep.c_str(), nullptr, 10));
  if (locks) DeleteFileW((here + L"index.lock").c_str());
  std::string code;
  if (!readFile(word + L".code", code)) return 0;
  // Codes up to 2^32 - 1, the system's crash statuses among them.
  ExitProcess(static_cast<UINT>(std::strtoull(code.c_str(), nullptr, 10)));
}
