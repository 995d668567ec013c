#include "cli/usage.h"

#include "base/buffer.h"
#include "runtime/output.h"

namespace hushmark {

namespace {

// The project's version, stated once, in CMakeLists.txt.
constexpr std::string_view programVersion = HUSHMARK_VERSION;

constexpr std::string_view topUsage =
    "Usage: hushmark [--help] [--version] <command> [arguments]\n"
    "\n"
    "Keep local Git noise local.\n"
    "\n"
    "Commands:\n"
    "  hide <pattern>...    Add patterns to .git/info/exclude\n"
    "  unhide <pattern>...  Remove patterns from .git/info/exclude\n"
    "  freeze <path>...     Mark tracked files as skip-worktree\n"
    "  unfreeze <path>...   Clear skip-worktree from tracked files\n"
    "  list                 List hidden patterns and frozen paths\n";

static_assert(topUsage.size() == 400);

std::string_view commandUsage(Command command) {
  switch (command) {
    case Command::Hide:
      return "Usage: hushmark hide <pattern>...\n"
             "Add patterns to .git/info/exclude.\n";
    case Command::Unhide:
      return "Usage: hushmark unhide <pattern>...\n"
             "Remove exact patterns from .git/info/exclude.\n";
    case Command::Freeze:
      return "Usage: hushmark freeze <path>...\n"
             "Mark tracked files as skip-worktree.\n";
    case Command::Unfreeze:
      return "Usage: hushmark unfreeze <path>...\n"
             "Clear skip-worktree from tracked files.\n";
    case Command::List:
      return "Usage: hushmark list\n"
             "List hidden patterns and frozen paths.\n";
  }
  return {};
}

}  // namespace

Status printTopUsage(NativeFile file) {
  return writeAll(file, topUsage);
}

Status printCommandUsage(Command command) {
  return writeAll(standardOutput(), commandUsage(command));
}

Status printVersion() {
  ByteBuffer line;
  for (std::string_view piece :
       {std::string_view("hushmark "), programVersion, std::string_view("\n")}) {
    if (auto added = line.append(piece); !added) return added;
  }
  return writeAll(standardOutput(), line.view());
}

}  // namespace hushmark
