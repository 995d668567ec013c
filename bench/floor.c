/* The floor for a command that runs git: the least any program can spend to
 * run the same git commands one after the other. Each run gets standard
 * input from /dev/null and its two output streams on pipes that are
 * drained together and thrown away; then it is waited for.
 *
 *   floor WORD... [';;' WORD...]...
 *
 * Built statically, like the release program, so that the comparison is
 * not skewed by the dynamic loader. Exits 1 when a run cannot be started or
 * does not exit 0. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static int runOne(char** argv) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  pid_t pid;
  int code = posix_spawnp(&pid, argv[0], &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (code != 0) return 1;
  struct pollfd waits[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  static char sink[1 << 16];
  int open = 2;
  while (open > 0) {
    if (poll(waits, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (waits[i].fd < 0 || waits[i].revents == 0) continue;
      if (read(waits[i].fd, sink, sizeof sink) <= 0) {
        close(waits[i].fd);
        waits[i].fd = -1;
        --open;
      }
    }
  }
  int status;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  int failed = 0;
  for (int start = 1; start < argc;) {
    int end = start;
    while (end < argc && strcmp(argv[end], ";;") != 0) ++end;
    argv[end < argc ? end : argc] = NULL;
    failed |= runOne(argv + start);
    start = end + 1;
  }
  return failed;
}
