#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

#include "posix_config.h"
#include "runtime/buffer.h"
#include "runtime/environ-posix.h"
#include "runtime/interrupt.h"
#include "runtime/process.h"

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
  pid_t pid = -1;
  int out = -1;
  int err = -1;
  bool waited = false;
};

Result<ChildProcess> ChildProcess::start(std::span<const std::string_view> argv) {
  NativeArgv native;
  if (auto built = native.build(argv); !built) return fail(built.error());

  auto* handles = new (std::nothrow) Handles;
  if (handles == nullptr) return fail(Error::OutOfMemory);
  ChildProcess child(handles);  // closes whatever is opened below on failure

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
  if (code == 0) {
    code =
        posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (code == 0) {
    // An interruption from here on must find the child to end it.
    DeferredInterrupts deferred;
    code = posix_spawnp(&handles->pid, native.get()[0], &setup.actions, &setup.attributes,
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
Status readRound(PipeEnd (&pipes)[2], std::span<char> room, int timeout,
                 FunctionRef<Status(ChildStream, std::string_view)> take) {
  pollfd waits[2];
  nfds_t count = 0;
  PipeEnd* owners[2];
  for (PipeEnd& pipe : pipes) {
    if (pipe.fd < 0) continue;
    waits[count] = pollfd{pipe.fd, POLLIN, 0};
    owners[count++] = &pipe;
  }
  if (::poll(waits, count, timeout) < 0) {
    if (errno == EINTR) return {};
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
      return taken;
    }
  }
  return {};
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

Status ChildProcess::readOutput(FunctionRef<Status(ChildStream, std::string_view)> take) {
  ByteBuffer chunk;
  if (auto reserved = chunk.reserveExtra(readChunk); !reserved) return reserved;
  PipeEnd pipes[2] = {{handles_->out, ChildStream::Output}, {handles_->err, ChildStream::Error}};
  while (handles_->out >= 0 || handles_->err >= 0) {
    if (auto read = readRound(pipes, {chunk.spare(), chunk.spareSize()}, -1, take); !read) {
      return read;
    }
  }
  return {};
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
  ::kill(handles_->pid, SIGTERM);
}

bool ChildProcess::finishWithin(int milliseconds) {
  char room[16384];
  PipeEnd pipes[2] = {{handles_->out, ChildStream::Output}, {handles_->err, ChildStream::Error}};
  auto discard = [](ChildStream, std::string_view) -> Status { return {}; };
  const long long deadline = monotonicMilliseconds() + milliseconds;
  for (;;) {
    siginfo_t info{};
    // With WNOHANG the id stays 0 while the child runs.
    int checked =
        ::waitid(P_PID, static_cast<id_t>(handles_->pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (checked < 0 && errno != EINTR) return false;
    if (checked == 0 && info.si_pid == handles_->pid) {
      int status;
      (void)reap(handles_->pid, handles_->waited, status);
      return true;
    }
    long long left = deadline - monotonicMilliseconds();
    if (left <= 0) return false;
    // The end is looked for every 10 ms, between reads.
    int timeout = left < 10 ? static_cast<int>(left) : 10;
    if (!readRound(pipes, room, timeout, discard)) {
      // The output cannot be read: the child is only waited for.
      closeQuietly(handles_->out);
      closeQuietly(handles_->err);
    }
  }
}

void ChildProcess::kill() {
  ::kill(handles_->pid, SIGKILL);
  int status;
  (void)reap(handles_->pid, handles_->waited, status);
}

}  // namespace hushmark
