#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace hushmark::test {

namespace {

std::vector<std::string> composeEnvironment(
    const std::map<std::string, std::optional<std::string>>& overrides) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text(*entry);
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : baseEnvironment()) {
    if (value)
      merged[name] = *value;
    else
      merged.erase(name);
  }
  for (const auto& [name, value] : overrides) {
    if (value)
      merged[name] = *value;
    else
      merged.erase(name);
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Reads every given descriptor to its end at the same time.
void drain(std::vector<std::pair<int, std::string*>> sources) {
  while (!sources.empty()) {
    std::vector<pollfd> waits;
    for (auto& [fd, sink] : sources) waits.push_back(pollfd{fd, POLLIN, 0});
    if (::poll(waits.data(), waits.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (std::size_t i = waits.size(); i-- > 0;) {
      if (waits[i].revents == 0) continue;
      char chunk[65536];
      ssize_t got = ::read(sources[i].first, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {  // EIO on a pseudo-terminal whose other side has closed
        ::close(sources[i].first);
        sources.erase(sources.begin() + static_cast<long>(i));
        continue;
      }
      sources[i].second->append(chunk, static_cast<std::size_t>(got));
    }
  }
}

}  // namespace

std::map<std::string, std::optional<std::string>> baseEnvironment() {
  // One home for every run of this test process, removed when it ends.
  static const TempDir homeDir;
  const std::string& home = homeDir.path();
  return {
      {"HOME", home},
      {"XDG_CONFIG_HOME", home},
      {"GIT_CONFIG_NOSYSTEM", "1"},
      {"GIT_CONFIG_GLOBAL", "/dev/null"},
      {"GIT_AUTHOR_NAME", "Test"},
      {"GIT_AUTHOR_EMAIL", "test@example.invalid"},
      {"GIT_COMMITTER_NAME", "Test"},
      {"GIT_COMMITTER_EMAIL", "test@example.invalid"},
      {"GIT_DIR", std::nullopt},
      {"GIT_WORK_TREE", std::nullopt},
      {"GIT_INDEX_FILE", std::nullopt},
      {"NO_COLOR", std::nullopt},
      {"CLICOLOR_FORCE", std::nullopt},
      {"LC_ALL", "C"},
      {"LANGUAGE", std::nullopt},
  };
}

void expectSilentSuccess(const RunResult& result) {
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

void expectFailure(const RunResult& result, const std::string& err) {
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.status, 1);
}

RunOptions at(const std::string& cwd, std::map<std::string, std::optional<std::string>> env) {
  RunOptions options;
  options.cwd = cwd;
  options.env = std::move(env);
  return options;
}

StartedRun start(const std::vector<std::string>& argv, const RunOptions& options) {
  std::vector<std::string> args = argv;
#ifdef HUSHMARK_WINDOWS_GIT
  // Every git the test runs is a Windows build's, under Wine.
  if (!args.empty() && args[0] == "git") {
    args[0] = HUSHMARK_WINDOWS_GIT "/bin/git.exe";
    args.insert(args.begin(), HUSHMARK_EMULATOR);
  }
#endif
  std::vector<char*> argp = pointers(args);
  std::vector<std::string> env = composeEnvironment(options.env);
  std::vector<char*> envp = pointers(env);

  int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  int errRead = errPipe[0], errWrite = errPipe[1];
  if (options.stderrOnTerminal) {
    ::close(errPipe[0]);
    ::close(errPipe[1]);
    errRead = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (errRead < 0 || ::grantpt(errRead) != 0 || ::unlockpt(errRead) != 0) {
      throw std::runtime_error("posix_openpt failed");
    }
    errWrite = ::open(::ptsname(errRead), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (errWrite < 0) throw std::runtime_error("opening the terminal failed");
  }
  if (options.input && ::pipe2(inPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = options.input ? inPipe[0] : ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errWrite, 2);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) _exit(127);
    ::signal(SIGPIPE, SIG_DFL);
    if (options.beforeExec) options.beforeExec();
    ::execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  ::close(outPipe[1]);
  ::close(errWrite);
  if (options.input) {
    ::close(inPipe[0]);
    // Small inputs only: written before the output is read.
    (void)!::write(inPipe[1], options.input->data(), options.input->size());
    ::close(inPipe[1]);
  }
  return {pid, outPipe[0], errRead};
}

RunResult finish(StartedRun started) {
  RunResult result;
  drain({{started.out, &result.out}, {started.err, &result.err}});
  int status = 0;
  while (::waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

RunResult run(const std::vector<std::string>& argv, const RunOptions& options) {
  return finish(start(argv, options));
}

std::string hushmarkBinary() {
  return HUSHMARK_BINARY;
}

RunResult hushmark(const std::vector<std::string>& args, const RunOptions& options) {
#ifdef HUSHMARK_EMULATOR
  // A Windows build's program, run under Wine.
  std::vector<std::string> argv{HUSHMARK_EMULATOR, hushmarkBinary()};
#else
  std::vector<std::string> argv{hushmarkBinary()};
#endif
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, options);
}

TempDir::TempDir() {
  char pattern[] = "/tmp/hushmark-test-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Restore permissions that a test took away, so everything can go.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

GitRepo::GitRepo(const std::string& subdir) : path_(dir_ / subdir) {
  std::filesystem::create_directories(path_);
  git({"init", "-q"});
}

std::string GitRepo::git(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{"git"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions options;
  options.cwd = path_;
  RunResult result = run(argv, options);
  EXPECT_EQ(result.status, 0) << "git failed: " << result.err;
  return result.out;
}

RunResult GitRepo::hushmark(const std::vector<std::string>& args, RunOptions options) const {
  options.cwd = options.cwd.empty() ? path_ : path_ + "/" + options.cwd;
  return test::hushmark(args, options);
}

void GitRepo::commitFiles(const std::vector<std::string>& names) const {
  std::vector<std::string> add{"add", "--"};
  for (const std::string& name : names) {
    std::filesystem::path file = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(file.parent_path());
    writeFile(file.string(), "content of " + name + "\n");
    add.push_back(name);
  }
  git(add);
  git({"commit", "-q", "-m", "files"});
}

bool spawnOfMissingProgramFails() {
  static const bool fails = [] {
    TempDir dir;
    std::string absent = dir / "absent";
    char* argv[] = {absent.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, absent.c_str(), nullptr, nullptr, argv, environ) != 0) return true;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
  }();
  return fails;
}

bool fileExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void writeScript(const std::string& path, const std::string& content) {
  writeFile(path, content);
  ::chmod(path.c_str(), 0755);
}

std::vector<std::vector<std::string>> readCallLog(const std::string& path) {
  std::string log = readFile(path);
  std::vector<std::string> fields;
  for (std::size_t start = 0; start < log.size();) {
    std::size_t end = log.find('\0', start);
    if (end == std::string::npos) break;
    fields.push_back(log.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::vector<std::string>> result;
  for (std::size_t i = 0; i < fields.size();) {
    std::size_t count = std::stoul(fields[i++]);
    result.emplace_back(fields.begin() + static_cast<long>(i),
                        fields.begin() + static_cast<long>(i + count));
    i += count;
  }
  return result;
}

}  // namespace hushmark::test
