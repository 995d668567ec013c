// The choices made in starting a program on Windows that the system's
// answers decide: the command line for a batch file run by cmd.exe, and
// the protection of the pipes that carry the child's output. Written over
// any character type, so that they are tested where they are not used.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/error.h"
#include "process/command_line_quote.h"

namespace hushmark {

// The longest command line cmd.exe takes, in UTF-16 units; it cuts a longer
// one short.
inline constexpr std::size_t maxCmdLine = 8191;

// Room kept within cmd.exe's limit for the line of a batch file that runs
// the real git ("C:\...\git.exe" %*): its %* is the words as this program
// wrote them, and that line, too, must stay within the limit once
// expanded. The room holds a path to git.exe of several hundred characters
// and the rest of the line.
inline constexpr std::size_t batchWrapperRoom = 1024;

// Whether cmd.exe refuses `directory` as its current directory: it takes
// no UNC path (\\server\share\..., \\wsl.localhost\..., \\?\UNC\...) and
// works in the Windows directory instead, and so would the git that a
// batch file starts.
template <typename Char>
bool cmdRefusesDirectory(std::basic_string_view<Char> directory) {
  auto slash = [](Char c) { return c == '\\' || c == '/'; };
  return directory.size() >= 2 && slash(directory[0]) && slash(directory[1]);
}

// cmd.exe's command line that runs the batch file `program` with `words`
// (those after the program's name) in `currentDirectory`. Where cmd.exe
// refuses that directory, git is handed it with "-C", so that it works
// there whatever cmd does. InvalidArgument for a word that cmd cannot
// carry; ArgumentListTooLong when the line, or the wrapper's line with room
// for its own text, would pass cmd's limit. Throws std::bad_alloc like the
// string.
template <typename Char>
Result<std::basic_string<Char>> batchCommandLine(std::basic_string_view<Char> program,
                                                 std::span<const std::basic_string<Char>> words,
                                                 std::basic_string_view<Char> currentDirectory) {
  using View = std::basic_string_view<Char>;
  const bool directoryWord = cmdRefusesDirectory(currentDirectory);
  if (directoryWord && !batchWordCarried(currentDirectory)) {
    return fail(Error::InvalidArgument);
  }
  for (const auto& word : words) {
    if (!batchWordCarried(View(word))) return fail(Error::InvalidArgument);
  }
  std::basic_string<Char> inner;
  appendBatchWord(inner, program);
  const std::size_t programEnd = inner.size();
  if (directoryWord) {
    const Char option[] = {'-', 'C'};
    appendBatchWord(inner, View(option, 2));
    appendBatchWord(inner, currentDirectory);
  }
  for (const auto& word : words) appendBatchWord(inner, View(word));
  // What the batch file's %* holds: the words, without the blank before
  // them.
  const std::size_t expanded = inner.size() - programEnd - (inner.size() > programEnd ? 1 : 0);
  // /d: no AutoRun commands; /e:on: command extensions, which the quoting
  // of % relies on, on whatever the registry says; /v:off: no delayed
  // expansion of !NAME!; /s /c: the text between the first and the last
  // quote is the command.
  std::basic_string<Char> line;
  for (char c : std::string_view("cmd.exe /d /e:on /v:off /s /c \"")) {
    line.push_back(static_cast<Char>(c));
  }
  line.append(inner);
  line.push_back(static_cast<Char>('"'));
  if (line.size() > maxCmdLine || expanded + batchWrapperRoom > maxCmdLine) {
    return fail(Error::ArgumentListTooLong);
  }
  return line;
}

// The security descriptor, in the system's descriptor language, of a pipe
// that only the user `userSid` (the string form of the process's own user)
// may open: a protected access list, nothing inherited, with one entry that
// allows that user everything. Without it a named pipe gets the default
// list, which lets everyone read it.
template <typename Char>
std::basic_string<Char> currentUserOnlyDescriptor(std::basic_string_view<Char> userSid) {
  std::basic_string<Char> descriptor;
  for (char c : std::string_view("D:P(A;;GA;;;")) descriptor.push_back(static_cast<Char>(c));
  descriptor.append(userSid);
  descriptor.push_back(static_cast<Char>(')'));
  return descriptor;
}

}  // namespace hushmark
