/* Runs a command in another directory, so that one hyperfine invocation can
 * time commands in several repositories:
 *
 *   at DIR WORD...
 *
 * changes to DIR and executes WORD... in its own place. Built statically,
 * like the floor, so that it adds one small start to every command timed,
 * the same for each. Exits 127 when DIR or WORD cannot be reached. */
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3 || chdir(argv[1]) != 0) return 127;
  execvp(argv[2], argv + 2);
  return 127;
}
