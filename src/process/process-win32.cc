// A child process on Windows: found the way the shell finds a command,
// started with CreateProcessW inside a job object that ends it together
// with this program, its two output streams read through overlapped named
// pipes that one wait serves.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/buffer.h"
#include "base/wtf8.h"
#include "process/command_line_quote.h"
#include "process/process.h"
#include "process/program_search.h"
#include "process/windows_launch.h"
#include "runtime/child_ending.h"
#include "runtime/interrupt.h"

namespace hushmark {

namespace {

// How much one read takes at most.
constexpr DWORD readChunk = 256 * 1024;

std::unexpected<Error> failFromLastError() {
  return fail(errorFromSystem(static_cast<int>(::GetLastError())));
}

void closeQuietly(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  handle = nullptr;
}

// A handle closed when the object goes.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  ~OwnedHandle() { closeQuietly(handle_); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }
  void reset(HANDLE handle) {
    closeQuietly(handle_);
    handle_ = handle;
  }
  HANDLE release() { return std::exchange(handle_, nullptr); }

 private:
  HANDLE handle_ = nullptr;
};

// The UTF-16 form of WTF-8 bytes; throws std::bad_alloc like the string.
Result<std::wstring> widen(std::string_view bytes) {
  Utf16Text text;
  if (auto added = text.appendWtf8(bytes); !added) return fail(added.error());
  std::u16string_view units = text.view();
  return std::wstring(reinterpret_cast<const wchar_t*>(units.data()), units.size());
}

Result<std::wstring> environmentVariable(const wchar_t* name) {
  try {
    std::wstring value;
    DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    while (size > 0) {
      value.resize(size);
      DWORD got = ::GetEnvironmentVariableW(name, value.data(), size);
      if (got < size) {
        value.resize(got);
        break;
      }
      size = got;
    }
    return value;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

bool isFile(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isBatchFile(std::wstring_view path) {
  if (path.size() < 4) return false;
  std::wstring_view extension = path.substr(path.size() - 4);
  auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
  std::wstring folded;
  for (wchar_t c : extension) folded.push_back(static_cast<wchar_t>(lower(c)));
  return folded == L".bat" || folded == L".cmd";
}

// The full path of the program that the shell would run for `name`;
// FileNotFound when there is none.
Result<std::wstring> findProgram(std::wstring_view name) {
  auto path = environmentVariable(L"PATH");
  if (!path) return fail(path.error());
  auto extensions = environmentVariable(L"PATHEXT");
  if (!extensions) return fail(extensions.error());
  try {
    std::wstring found;
    bool any = searchProgram<wchar_t>(windowsSearch, name, *path, *extensions,
                                      [&](const std::wstring& candidate) {
                                        if (!isFile(candidate)) return false;
                                        found = candidate;
                                        return true;
                                      });
    if (!any) return fail(Error::FileNotFound);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
      DWORD length =
          ::GetFullPathNameW(found.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
      if (length == 0) return failFromLastError();
      if (length < full.size()) {
        full.resize(length);
        return full;
      }
      full.resize(length);
    }
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

// A name that no other pipe of this machine has.
std::wstring uniquePipeName() {
  static unsigned counter = 0;
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  std::wstring name = L"\\\\.\\pipe\\hushmark-";
  for (unsigned long long part : {static_cast<unsigned long long>(::GetCurrentProcessId()),
                                  static_cast<unsigned long long>(++counter),
                                  static_cast<unsigned long long>(now.QuadPart)}) {
    do {
      name.push_back(L"0123456789abcdef"[part & 15]);
      part >>= 4;
    } while (part != 0);
    name.push_back(L'-');
  }
  name.push_back(L'p');
  return name;
}

// A security descriptor that lets only this process's user open what it
// guards, released when the object goes.
class CurrentUserOnly {
 public:
  Status build() {
    OwnedHandle token;
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) {
      return failFromLastError();
    }
    token.reset(opened);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return failFromLastError();
    void* user = ::operator new(size, std::nothrow);
    if (user == nullptr) return fail(Error::OutOfMemory);
    struct Release {
      void* memory;
      ~Release() { ::operator delete(memory); }
    } releaseUser{user};
    if (!::GetTokenInformation(token.get(), TokenUser, user, size, &size)) {
      return failFromLastError();
    }
    wchar_t* sid = nullptr;
    if (!::ConvertSidToStringSidW(static_cast<TOKEN_USER*>(user)->User.Sid, &sid)) {
      return failFromLastError();
    }
    std::wstring text;
    try {
      text = currentUserOnlyDescriptor<wchar_t>(sid);
    } catch (const std::bad_alloc&) {
      ::LocalFree(sid);
      return fail(Error::OutOfMemory);
    }
    ::LocalFree(sid);
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                &descriptor_, nullptr)) {
      descriptor_ = nullptr;
      return failFromLastError();
    }
    return {};
  }
  ~CurrentUserOnly() {
    if (descriptor_ != nullptr) ::LocalFree(descriptor_);
  }
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// A pipe whose reading end, for this process, reads asynchronously and is
// not inherited, and whose writing end, for the child, is inheritable. Only
// this process's user may open the pipe, and only one end may be opened,
// which this process does at once.
Status makePipe(DWORD bufferSize, PSECURITY_DESCRIPTOR security, OwnedHandle& readEnd,
                OwnedHandle& writeEnd) {
  std::wstring name;
  try {
    name = uniquePipeName();
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
  SECURITY_ATTRIBUTES restricted{sizeof(SECURITY_ATTRIBUTES), security, FALSE};
  readEnd.reset(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
      bufferSize, 0, &restricted));
  if (readEnd.get() == INVALID_HANDLE_VALUE) return failFromLastError();
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  writeEnd.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (writeEnd.get() == INVALID_HANDLE_VALUE) return failFromLastError();
  return {};
}

// The longest command line a process can be given, in UTF-16 units, its
// final NUL included.
constexpr std::size_t maxCommandLine = 32767;
// The child's command line and the program that reads it. A batch file is
// run by cmd.exe, with its words quoted for cmd first.
struct Launch {
  std::wstring application;
  std::wstring commandLine;
};

Result<Launch> composeLaunch(const std::wstring& program, std::span<const std::string_view> argv) {
  try {
    std::vector<std::wstring> words;
    for (std::size_t i = 1; i < argv.size(); ++i) {
      auto word = widen(argv[i]);
      if (!word) return fail(word.error());
      words.push_back(std::move(*word));
    }
    Launch launch;
    if (!isBatchFile(program)) {
      launch.application = program;
      launch.commandLine = L"\"" + program + L"\"";
      for (const std::wstring& word : words)
        appendCommandLineWord<wchar_t>(launch.commandLine, word);
    } else {
      std::wstring system(MAX_PATH, L'\0');
      UINT length = ::GetSystemDirectoryW(system.data(), MAX_PATH);
      if (length == 0 || length >= MAX_PATH) return failFromLastError();
      system.resize(length);
      launch.application = system + L"\\cmd.exe";
      std::wstring directory(MAX_PATH, L'\0');
      for (;;) {
        DWORD got = ::GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
        if (got == 0) return failFromLastError();
        bool fits = got < directory.size();
        directory.resize(got);
        if (fits) break;
      }
      auto line = batchCommandLine<wchar_t>(program, words, directory);
      if (!line) return fail(line.error());
      launch.commandLine = std::move(*line);
    }
    // CreateProcessW takes at most 32,767 characters with the final NUL;
    // past that it answers with a file-name error, which would misname the
    // cause.
    if (launch.commandLine.size() >= maxCommandLine) return fail(Error::ArgumentListTooLong);
    return launch;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

// The attribute list that limits what the child inherits to its three
// standard handles.
class InheritOnly {
 public:
  Status build(HANDLE* handles, std::size_t count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    list_ = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(::operator new(size, std::nothrow));
    if (list_ == nullptr) return fail(Error::OutOfMemory);
    if (!::InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
      ::operator delete(list_);
      list_ = nullptr;
      return failFromLastError();
    }
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                     count * sizeof(HANDLE), nullptr, nullptr)) {
      return failFromLastError();
    }
    return {};
  }
  ~InheritOnly() {
    if (list_ == nullptr) return;
    ::DeleteProcThreadAttributeList(list_);
    ::operator delete(list_);
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A job object that ends every process in it when its last handle closes,
// which the system does for this process however it ends. Whatever git
// starts is in it too, so that git never outlives the run: an installed
// git.exe may be a launcher that runs the real git as its child, and a
// batch file's git is a child of cmd.exe.
Result<HANDLE> makeJob() {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return failFromLastError();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    DWORD code = ::GetLastError();
    ::CloseHandle(job);
    return fail(errorFromSystem(static_cast<int>(code)));
  }
  return job;
}

// Once git has ended by itself, what is left in the job is what git started
// on purpose to outlive it (its file-system monitor daemon): the job no
// longer ends it. Where that cannot be changed, it ends with the run.
void letRemainingProcessesGo(HANDLE job) {
  if (job == nullptr) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

struct Reader {
  HANDLE pipe = nullptr;
  OVERLAPPED overlapped{};
  bool pending = false;
  // False once the pipe has reached its end.
  bool open = true;
};

}  // namespace

struct ChildProcess::Handles {
  ByteBuffer program;
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  Reader readers[2];
  bool waited = false;

  ~Handles() {
    for (Reader& reader : readers) {
      closeQuietly(reader.pipe);
      closeQuietly(reader.overlapped.hEvent);
    }
    closeQuietly(process);
    closeQuietly(job);
  }
};

Result<ChildProcess> ChildProcess::start(std::span<const std::string_view> argv) {
  std::wstring name;
  try {
    auto wide = widen(argv.empty() ? std::string_view() : argv[0]);
    if (!wide) return fail(wide.error());
    name = std::move(*wide);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
  auto program = findProgram(name);
  if (!program) return fail(program.error());
  auto launch = composeLaunch(*program, argv);
  if (!launch) return fail(launch.error());

  auto* handles = new (std::nothrow) Handles;
  if (handles == nullptr) return fail(Error::OutOfMemory);
  ChildProcess child(handles);  // closes whatever is opened below on failure

  if (auto kept = appendWtf8(
          handles->program,
          std::u16string_view(reinterpret_cast<const char16_t*>(program->data()), program->size()));
      !kept) {
    return fail(kept.error());
  }

  OwnedHandle outWrite;
  OwnedHandle errWrite;
  OwnedHandle outRead;
  OwnedHandle errRead;
  CurrentUserOnly security;
  if (auto built = security.build(); !built) return fail(built.error());
  if (auto made = makePipe(1024 * 1024, security.get(), outRead, outWrite); !made) {
    return fail(made.error());
  }
  if (auto made = makePipe(64 * 1024, security.get(), errRead, errWrite); !made) {
    return fail(made.error());
  }
  handles->readers[0].pipe = outRead.release();
  handles->readers[1].pipe = errRead.release();
  for (Reader& reader : handles->readers) {
    reader.overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (reader.overlapped.hEvent == nullptr) return failFromLastError();
  }

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle input;
  input.reset(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (input.get() == INVALID_HANDLE_VALUE) return failFromLastError();

  auto job = makeJob();
  if (!job) return fail(job.error());
  handles->job = *job;

  HANDLE inherited[3] = {input.get(), outWrite.get(), errWrite.get()};
  InheritOnly attributes;
  if (auto built = attributes.build(inherited, 3); !built) return fail(built.error());

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = outWrite.get();
  startup.StartupInfo.hStdError = errWrite.get();
  startup.lpAttributeList = attributes.get();
  PROCESS_INFORMATION created{};
  {
    // An interruption from here on must find the child to end it: one that
    // came while it was being created, before it is in the job, would
    // leave it behind, suspended.
    DeferredInterrupts deferred;
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!::CreateProcessW(launch->application.c_str(), launch->commandLine.data(), nullptr, nullptr,
                          TRUE, CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                          nullptr, nullptr, &startup.StartupInfo, &created)) {
      return failFromLastError();
    }
    handles->process = created.hProcess;
    setInterruptibleChild(reinterpret_cast<std::intptr_t>(created.hProcess));
  }
  // Where this program runs in a job that allows no other (before Windows
  // 8), the child goes on without one; it is still ended on every failure.
  if (!::AssignProcessToJobObject(handles->job, created.hProcess)) closeQuietly(handles->job);
  DWORD resumed = ::ResumeThread(created.hThread);
  DWORD code = ::GetLastError();
  ::CloseHandle(created.hThread);
  if (resumed == static_cast<DWORD>(-1)) return fail(errorFromSystem(static_cast<int>(code)));
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handles_(std::exchange(other.handles_, nullptr)) {}

ChildProcess::~ChildProcess() {
  if (handles_ == nullptr) return;
  if (handles_->process != nullptr) {
    if (!handles_->waited) stop();
    // The handle goes below: no interruption may find it meanwhile.
    DeferredInterrupts deferred;
    setInterruptibleChild(0);
  }
  delete handles_;
}

namespace {

struct Pipe {
  Reader& reader;
  ChildStream stream;
  char* chunk;
  DWORD chunkSize;
};

// What ended the reading.
enum class ReadEnd : std::uint8_t { StreamsEnded, ChildEnded, TimedOut };

// Reads the open pipes, handing every piece to `take`, until both reach
// their end; or, with `child`, until it ends; or until `milliseconds` have
// passed (INFINITE: no limit); or, with `untilQuiet`, until no pipe has
// anything ready.
Result<ReadEnd> readPipes(Pipe (&pipes)[2], FunctionRef<Status(ChildStream, std::string_view)> take,
                          HANDLE child, DWORD milliseconds, bool untilQuiet = false) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (;;) {
    if (untilQuiet && ::GetTickCount64() >= deadline) return ReadEnd::TimedOut;
    HANDLE waits[3];
    Pipe* owners[2];
    DWORD count = 0;
    for (Pipe& pipe : pipes) {
      Reader& reader = pipe.reader;
      if (!reader.open) continue;
      if (!reader.pending) {
        HANDLE event = reader.overlapped.hEvent;
        reader.overlapped = OVERLAPPED{};
        reader.overlapped.hEvent = event;
        if (!::ReadFile(reader.pipe, pipe.chunk, pipe.chunkSize, nullptr, &reader.overlapped)) {
          DWORD code = ::GetLastError();
          if (code == ERROR_BROKEN_PIPE) {
            reader.open = false;
            continue;
          }
          if (code != ERROR_IO_PENDING) return fail(errorFromSystem(static_cast<int>(code)));
        }
        // Finished at once or not, the result is taken below; the event is
        // set either way.
        reader.pending = true;
      }
      waits[count] = reader.overlapped.hEvent;
      owners[count++] = &pipe;
    }
    if (count == 0 && child == nullptr) return ReadEnd::StreamsEnded;
    DWORD pipeCount = count;
    if (child != nullptr) waits[count++] = child;
    DWORD timeout = INFINITE;
    if (untilQuiet) {
      timeout = 0;
    } else if (milliseconds != INFINITE) {
      ULONGLONG now = ::GetTickCount64();
      timeout = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    DWORD woke = ::WaitForMultipleObjects(count, waits, FALSE, timeout);
    if (woke == WAIT_TIMEOUT) return ReadEnd::TimedOut;
    if (woke >= WAIT_OBJECT_0 + count) return failFromLastError();
    if (woke == WAIT_OBJECT_0 + pipeCount) return ReadEnd::ChildEnded;
    // Every finished read is taken, so a busy stream cannot starve the other.
    for (DWORD i = 0; i < pipeCount; ++i) {
      Pipe& pipe = *owners[i];
      Reader& reader = pipe.reader;
      DWORD got = 0;
      if (!::GetOverlappedResult(reader.pipe, &reader.overlapped, &got, FALSE)) {
        DWORD code = ::GetLastError();
        if (code == ERROR_IO_INCOMPLETE) continue;
        reader.pending = false;
        if (code == ERROR_BROKEN_PIPE) {
          reader.open = false;
          continue;
        }
        return fail(errorFromSystem(static_cast<int>(code)));
      }
      reader.pending = false;
      // A writer may write nothing at all; that is no piece.
      if (got == 0) continue;
      if (auto taken = take(pipe.stream, std::string_view(pipe.chunk, got)); !taken) {
        return fail(taken.error());
      }
    }
  }
}

// No read may still be filling a room that goes.
void cancelPendingReads(Reader (&readers)[2]) {
  for (Reader& reader : readers) {
    if (!reader.pending) continue;
    ::CancelIoEx(reader.pipe, &reader.overlapped);
    DWORD got = 0;
    ::GetOverlappedResult(reader.pipe, &reader.overlapped, &got, TRUE);
    reader.pending = false;
  }
}

}  // namespace

Status ChildProcess::readOutput(FunctionRef<Status(ChildStream, std::string_view)> take) {
  // One piece of room for each pipe, as both reads are outstanding at once.
  ByteBuffer room;
  if (auto reserved = room.reserveExtra(2 * std::size_t{readChunk}); !reserved) return reserved;
  Pipe pipes[2] = {{handles_->readers[0], ChildStream::Output, room.spare(), readChunk},
                   {handles_->readers[1], ChildStream::Error, room.spare() + readChunk, readChunk}};
  auto read = readPipes(pipes, take, handles_->process, INFINITE);
  if (read && *read == ReadEnd::ChildEnded) {
    // Everything git wrote is in its pipes now; a process it left behind
    // may hold them open for ever, and is not waited for.
    read = readPipes(pipes, take, nullptr, leftoverReadMilliseconds, true);
  }
  cancelPendingReads(handles_->readers);
  if (!read) return fail(read.error());
  return {};
}

std::string_view ChildProcess::program() const {
  return handles_->program.view();
}

Result<Termination> ChildProcess::wait() {
  if (::WaitForSingleObject(handles_->process, INFINITE) != WAIT_OBJECT_0) {
    return failFromLastError();
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(handles_->process, &code)) return failFromLastError();
  handles_->waited = true;
  letRemainingProcessesGo(handles_->job);
  Termination termination;
  // A status with both severity bits set is the system's report of a crash
  // (an access violation, an unhandled exception), not an exit code.
  if ((code & 0xC0000000u) != 0xC0000000u) {
    termination.exited = true;
    termination.code = code;
  }
  return termination;
}

// A child without a console gets no Ctrl-C, and Windows has no other request
// to end: the child is left to finish its work within the grace period.
void ChildProcess::askToEnd() {}

bool ChildProcess::finishWithin(int milliseconds) {
  char room[2][16384];
  Pipe pipes[2] = {{handles_->readers[0], ChildStream::Output, room[0], sizeof room[0]},
                   {handles_->readers[1], ChildStream::Error, room[1], sizeof room[1]}};
  auto discard = [](ChildStream, std::string_view) -> Status { return {}; };
  auto read = readPipes(pipes, discard, handles_->process, static_cast<DWORD>(milliseconds));
  cancelPendingReads(handles_->readers);
  if (read && *read == ReadEnd::TimedOut) return false;
  // Where the output cannot be read, the child is only waited for.
  if (!read &&
      ::WaitForSingleObject(handles_->process, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0) {
    return false;
  }
  handles_->waited = true;
  return true;
}

void ChildProcess::kill() {
  // The job holds whatever the child started (the git behind a launcher or
  // under cmd.exe).
  if (handles_->job == nullptr || !::TerminateJobObject(handles_->job, 1)) {
    ::TerminateProcess(handles_->process, 1);
  }
  ::WaitForSingleObject(handles_->process, INFINITE);
  handles_->waited = true;
}

}  // namespace hushmark
