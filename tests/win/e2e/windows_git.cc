// For the Linux suite's cases run against a git.exe built for Windows: that
// git stands first on Wine's path for every run of the program.
#include <stdlib.h>

#include "win/e2e/stand_in_git.h"

namespace {

const bool windowsGitFirst = [] {
  ::setenv("WINEPATH", hushmark::test::windowsPath(HUSHMARK_WINDOWS_GIT "/bin").c_str(), 1);
  return true;
}();

}  // namespace
