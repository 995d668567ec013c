#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
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
  closeQuietly(handles_->out);
  closeQuietly(handles_->err);
  if (handles_->pid > 0 && !handles_->waited) {
    DeferredInterrupts deferred;
    setInterruptibleChild(0);
    ::kill(handles_->pid, SIGKILL);
    int status;
    while (::waitpid(handles_->pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  delete handles_;
}

Status ChildProcess::readOutput(FunctionRef<Status(ChildStream, std::string_view)> take) {
  ByteBuffer chunk;
  if (auto reserved = chunk.reserveExtra(readChunk); !reserved) return reserved;
  struct Pipe {
    int& fd;
    ChildStream stream;
  };
  Pipe pipes[2] = {{handles_->out, ChildStream::Output}, {handles_->err, ChildStream::Error}};
  for (;;) {
    pollfd waits[2];
    nfds_t count = 0;
    Pipe* owners[2];
    for (Pipe& pipe : pipes) {
      if (pipe.fd < 0) continue;
      waits[count] = pollfd{pipe.fd, POLLIN, 0};
      owners[count++] = &pipe;
    }
    if (count == 0) return {};
    if (::poll(waits, count, -1) < 0) {
      if (errno == EINTR) continue;
      return fail(errorFromSystem(errno));
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (waits[i].revents == 0) continue;
      Pipe& pipe = *owners[i];
      ssize_t got = ::read(pipe.fd, chunk.spare(), chunk.spareSize());
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return fail(errorFromSystem(errno));
      }
      if (got == 0) {
        closeQuietly(pipe.fd);
        continue;
      }
      if (auto taken =
              take(pipe.stream, std::string_view(chunk.spare(), static_cast<std::size_t>(got)));
          !taken) {
        return taken;
      }
    }
  }
}

Result<Termination> ChildProcess::wait() {
  // Waits for the end without reaping, so that an interruption meanwhile
  // still finds the child; it is reaped, and forgotten, with interruptions
  // held back.
  siginfo_t info;
  while (::waitid(P_PID, static_cast<id_t>(handles_->pid), &info, WEXITED | WNOWAIT) < 0) {
    if (errno != EINTR) return fail(errorFromSystem(errno));
  }
  DeferredInterrupts deferred;
  int status = 0;
  while (::waitpid(handles_->pid, &status, 0) < 0) {
    if (errno != EINTR) return fail(errorFromSystem(errno));
  }
  setInterruptibleChild(0);
  handles_->waited = true;
  Termination termination;
  if (WIFEXITED(status)) {
    termination.exited = true;
    termination.code = static_cast<std::uint32_t>(WEXITSTATUS(status));
  }
  return termination;
}

}  // namespace hushmark
