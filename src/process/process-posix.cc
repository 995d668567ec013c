#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "base/buffer.h"
#include "posix_config.h"
#include "process/process.h"
#include "process/program_search.h"
#include "runtime/child_ending.h"
#include "runtime/environ-posix.h"
#include "runtime/interrupt.h"
#include "runtime/process_group-posix.h"

namespace hushmark {

namespace {

// How much one read takes at most.
constexpr std::size_t readChunk = std::size_t{256} * 1024;

void closeQuietly(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A pipe whose two ends are closed in every program this one starts. Where
// the system cannot create it so in one call, the flag is set right after:
// no other thread could start a program in between, as this program has
// only one.
int makePipe(int ends[2]) {
#if HUSHMARK_HAVE_PIPE2
  return ::pipe2(ends, O_CLOEXEC);
#else
  if (::pipe(ends) != 0) return -1;
  for (int i = 0; i < 2; ++i) {
    if (::fcntl(ends[i], F_SETFD, FD_CLOEXEC) != 0) {
      int code = errno;
      ::close(ends[0]);
      ::close(ends[1]);
      errno = code;
      return -1;
    }
  }
  return 0;
#endif
}

// A larger pipe lets the child write a long output with fewer stops to wait for
// this side. Only some systems let a pipe grow; their default serves
// elsewhere, and where the request is refused.
void enlargePipe([[maybe_unused]] int end) {
#if HUSHMARK_HAVE_F_SETPIPE_SZ
  (void)::fcntl(end, F_SETPIPE_SZ, 1024 * 1024);
#endif
}

// NUL-terminated copies of the words and the vector that points at them.
class NativeArgv {
 public:
  Status build(std::span<const std::string_view> words) {
    std::size_t total = 0;
    for (std::string_view word : words) total += word.size() + 1;
    if (auto reserved = text_.reserveExtra(total); !reserved) return reserved;
    for (std::string_view word : words) {
      (void)text_.append(word);
      (void)text_.append('\0');
    }
    pointers_ =
        static_cast<char**>(::operator new((words.size() + 1) * sizeof(char*), std::nothrow));
    if (pointers_ == nullptr) return fail(Error::OutOfMemory);
    char* cursor = const_cast<char*>(text_.data());
    for (std::size_t i = 0; i < words.size(); ++i) {
      pointers_[i] = cursor;
      cursor += words[i].size() + 1;
    }
    pointers_[words.size()] = nullptr;
    return {};
  }
  ~NativeArgv() { ::operator delete(pointers_); }
  char* const* get() const { return pointers_; }

 private:
  ByteBuffer text_;
  char** pointers_ = nullptr;
};

// The file that runs for `name`: the name itself when it holds a slash,
// else the first executable regular file on PATH by the program's own
// search, in which an empty entry is no current directory (the system's
// search would take it as one). Without PATH, the system's default path.
// FileNotFound when there is none; AccessDenied when only files that may
// not be run were found.
Result<std::string> findProgram(std::string_view name) {
  try {
    if (name.find('/') != std::string_view::npos) return std::string(name);
    const char* variable = ::getenv("PATH");
    std::string fallback;
    if (variable == nullptr) {
      std::size_t size = ::confstr(_CS_PATH, nullptr, 0);
      fallback.resize(size);
      if (size == 0 || ::confstr(_CS_PATH, fallback.data(), size) == 0) {
        fallback = "/usr/bin:/bin";
      } else {
        fallback.resize(size - 1);
      }
    }
    std::string_view path = variable != nullptr ? std::string_view(variable) : fallback;
    std::string found;
    bool denied = false;
    bool any = searchProgram<char>(posixSearch, name, path, {}, [&](const std::string& candidate) {
      struct stat status {};
      if (::stat(candidate.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
      if (::faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) != 0) {
        denied = true;
        return false;
      }
      found = candidate;
      return true;
    });
    if (!any) return fail(denied ? errorFromSystem(EACCES) : Error::FileNotFound);
    return found;
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
}

// Whether the system takes `program`, `argv` and the environment in one
// exec, by its published limits: the strings (the program's path among
// them, which Linux keeps too) with their pointers within ARG_MAX, and on
// Linux each string within its own limit of 32 pages. Known here, the
// cause is named without a process being started, also where an emulator
// reports a failed exec as a child that exits with 127.
bool fitsOneExec(const std::string& program, char* const* argv, char* const* env) {
  long limit = ::sysconf(_SC_ARG_MAX);
  if (limit <= 0) return true;
#if defined(__linux__)
  long page = ::sysconf(_SC_PAGESIZE);
  const std::size_t stringLimit = page > 0 ? static_cast<std::size_t>(page) * 32 : 0;
#else
  const std::size_t stringLimit = 0;
#endif
  std::size_t total = program.size() + 1;
  auto fits = [&](char* const* strings) {
    for (; *strings != nullptr; ++strings) {
      std::size_t length = ::strlen(*strings) + 1;
      if (stringLimit != 0 && length > stringLimit) return false;
      total += length + sizeof(char*);
    }
    total += sizeof(char*);
    return true;
  };
  if (!fits(argv) || !fits(env)) return false;
  return total <= static_cast<std::size_t>(limit);
}

// The spawn attributes and file actions, released on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool haveActions = false;
  bool haveAttributes = false;
  ~SpawnSetup() {
    if (haveActions) posix_spawn_file_actions_destroy(&actions);
    if (haveAttributes) posix_spawnattr_destroy(&attributes);
  }
};

}  // namespace

struct ChildProcess::Handles {
  std::string program;
  pid_t pid = -1;
  int out = -1;
  int err = -1;
  bool waited = false;
};

Result<ChildProcess> ChildProcess::start(std::span<const std::string_view> argv) {
  NativeArgv native;
  if (auto built = native.build(argv); !built) return fail(built.error());
  auto program = findProgram(argv.empty() ? std::string_view() : argv[0]);
  if (!program) return fail(program.error());
  if (!fitsOneExec(*program, native.get(), environ)) return fail(Error::ArgumentListTooLong);

  auto* handles = new (std::nothrow) Handles;
  if (handles == nullptr) return fail(Error::OutOfMemory);
  ChildProcess child(handles);  // closes whatever is opened below on failure

  handles->program = std::move(*program);

  int outPipe[2];
  int errPipe[2];
  if (makePipe(outPipe) != 0) return fail(errorFromSystem(errno));
  handles->out = outPipe[0];
  int outWrite = outPipe[1];
  enlargePipe(outWrite);
  if (makePipe(errPipe) != 0) {
    int code = errno;
    closeQuietly(outWrite);
    return fail(errorFromSystem(code));
  }
  handles->err = errPipe[0];
  int errWrite = errPipe[1];

  SpawnSetup setup;
  int code = posix_spawn_file_actions_init(&setup.actions);
  setup.haveActions = code == 0;
  if (code == 0)
    code = posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  if (code == 0) code = posix_spawn_file_actions_adddup2(&setup.actions, outWrite, 1);
  if (code == 0) code = posix_spawn_file_actions_adddup2(&setup.actions, errWrite, 2);
  if (code == 0) {
    code = posix_spawnattr_init(&setup.attributes);
    setup.haveAttributes = code == 0;
  }
  // The child starts with the signal mask of a fresh process and with
  // SIGPIPE and SIGXFSZ at their defaults, which this program ignores for
  // itself.
  sigset_t empty;
  sigset_t defaults;
  sigemptyset(&empty);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  if (code == 0) code = posix_spawnattr_setsigmask(&setup.attributes, &empty);
  if (code == 0) code = posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
  // A process group of its own, which is ended as a whole: a git that is a
  // wrapper script runs the real git as its child.
  if (code == 0) code = posix_spawnattr_setpgroup(&setup.attributes, 0);
  if (code == 0) {
    code = posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  }
  if (code == 0) {
    // An interruption from here on must find the child to end it.
    DeferredInterrupts deferred;
    code = posix_spawn(&handles->pid, handles->program.c_str(), &setup.actions, &setup.attributes,
                       native.get(), environ);
    if (code != 0) handles->pid = -1;
    if (code == 0) setInterruptibleChild(handles->pid);
  }
  closeQuietly(outWrite);
  closeQuietly(errWrite);
  if (code != 0) return fail(errorFromSystem(code));
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : handles_(std::exchange(other.handles_, nullptr)) {}

ChildProcess::~ChildProcess() {
  if (handles_ == nullptr) return;
  if (handles_->pid > 0 && !handles_->waited) stop();
  closeQuietly(handles_->out);
  closeQuietly(handles_->err);
  delete handles_;
}

namespace {

struct PipeEnd {
  int& fd;
  ChildStream stream;
};

// One round of reading: waits up to `timeout` milliseconds (-1: for as long
// as it takes) until a pipe has something, then reads once from each pipe
// that has and hands the piece to `take`; a pipe at its end is closed.
// Whether any pipe was ready (or the wait was interrupted).
Result<bool> readRound(PipeEnd (&pipes)[2], std::span<char> room, int timeout,
                       FunctionRef<Status(ChildStream, std::string_view)> take) {
  pollfd waits[2];
  nfds_t count = 0;
  PipeEnd* owners[2];
  for (PipeEnd& pipe : pipes) {
    if (pipe.fd < 0) continue;
    waits[count] = pollfd{pipe.fd, POLLIN, 0};
    owners[count++] = &pipe;
  }
  int ready = ::poll(waits, count, timeout);
  if (ready < 0) {
    if (errno == EINTR) return true;
    return fail(errorFromSystem(errno));
  }
  for (nfds_t i = 0; i < count; ++i) {
    if (waits[i].revents == 0) continue;
    PipeEnd& pipe = *owners[i];
    ssize_t got = ::read(pipe.fd, room.data(), room.size());
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return fail(errorFromSystem(errno));
    }
    if (got == 0) {
      closeQuietly(pipe.fd);
      continue;
    }
    if (auto taken =
            take(pipe.stream, std::string_view(room.data(), static_cast<std::size_t>(got)));
        !taken) {
      return fail(taken.error());
    }
  }
  return ready > 0;
}

// Whether the child has ended; it is not reaped, so that its id stays its
// own and an interruption still finds it.
bool hasEnded(pid_t pid) {
  siginfo_t info{};
  // With WNOHANG the id stays 0 while the child runs.
  int checked = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
  return checked == 0 && info.si_pid == pid;
}

long long monotonicMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reaps a child that has ended (or been killed) and forgets it, with
// interruptions held back, so that none finds an id that was given up. It
// is forgotten even when the system cannot reap it (it is no longer this
// program's child), so that its id is never used again.
Status reap(pid_t pid, bool& waited, int& status) {
  DeferredInterrupts deferred;
  Status reaped;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      reaped = fail(errorFromSystem(errno));
      break;
    }
  }
  setInterruptibleChild(0);
  waited = true;
  return reaped;
}

}  // namespace

// How often a child that keeps its pipes quiet is looked at: once it has
// ended, what is left in its pipes is all it wrote.
constexpr int endCheckMilliseconds = 20;

Status ChildProcess::readOutput(FunctionRef<Status(ChildStream, std::string_view)> take) {
  ByteBuffer chunk;
  if (auto reserved = chunk.reserveExtra(readChunk); !reserved) return reserved;
  PipeEnd pipes[2] = {{handles_->out, ChildStream::Output}, {handles_->err, ChildStream::Error}};
  long long endedAt = -1;
  while (handles_->out >= 0 || handles_->err >= 0) {
    int timeout = endedAt < 0 ? endCheckMilliseconds : 0;
    auto read = readRound(pipes, {chunk.spare(), chunk.spareSize()}, timeout, take);
    if (!read) return fail(read.error());
    if (endedAt >= 0) {
      // The pipes are kept open by what git left running: they are let go
      // once nothing more is ready, or after the bound.
      if (!*read || monotonicMilliseconds() - endedAt >= leftoverReadMilliseconds) break;
    } else if (hasEnded(handles_->pid)) {
      endedAt = monotonicMilliseconds();
    }
  }
  closeQuietly(handles_->out);
  closeQuietly(handles_->err);
  return {};
}

std::string_view ChildProcess::program() const {
  return handles_->program;
}

Result<Termination> ChildProcess::wait() {
  // Waits for the end without reaping, so that an interruption meanwhile
  // still finds the child.
  siginfo_t info;
  while (::waitid(P_PID, static_cast<id_t>(handles_->pid), &info, WEXITED | WNOWAIT) < 0) {
    if (errno != EINTR) return fail(errorFromSystem(errno));
  }
  int status = 0;
  if (auto reaped = reap(handles_->pid, handles_->waited, status); !reaped) {
    return fail(reaped.error());
  }
  Termination termination;
  if (WIFEXITED(status)) {
    termination.exited = true;
    termination.code = static_cast<std::uint32_t>(WEXITSTATUS(status));
  }
  return termination;
}

void ChildProcess::askToEnd() {
  signalGroup(handles_->pid, SIGTERM);
}

// The child has ended when its whole group has: the real git behind a
// wrapper that has gone is still given its time to tidy up.
bool ChildProcess::finishWithin(int milliseconds) {
  char room[16384];
  PipeEnd pipes[2] = {{handles_->out, ChildStream::Output}, {handles_->err, ChildStream::Error}};
  auto discard = [](ChildStream, std::string_view) -> Status { return {}; };
  const long long deadline = monotonicMilliseconds() + milliseconds;
  for (;;) {
    if (!handles_->waited && hasEnded(handles_->pid)) {
      int status;
      (void)reap(handles_->pid, handles_->waited, status);
    }
    if (handles_->waited && !groupRunning(handles_->pid)) return true;
    long long left = deadline - monotonicMilliseconds();
    if (left <= 0) return false;
    // The end is looked for every 10 ms, between reads.
    int timeout = left < 10 ? static_cast<int>(left) : 10;
    if (handles_->out < 0 && handles_->err < 0) {
      struct timespec pause = {0, timeout * 1000000L};
      ::nanosleep(&pause, nullptr);
    } else if (!readRound(pipes, room, timeout, discard)) {
      // The output cannot be read: the child is only waited for.
      closeQuietly(handles_->out);
      closeQuietly(handles_->err);
    }
  }
}

void ChildProcess::kill() {
  signalGroup(handles_->pid, SIGKILL);
  if (handles_->waited) return;
  int status;
  (void)reap(handles_->pid, handles_->waited, status);
}

}  // namespace hushmark
