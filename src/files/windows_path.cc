#include "files/windows_path.h"

namespace hushmark {

namespace {

bool isDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// From `start`, the end of one component and the separator behind it, if
// there is one.
std::size_t pastComponent(std::string_view path, std::size_t start) {
  std::size_t at = start;
  while (at < path.size() && !isWindowsSeparator(path[at])) ++at;
  return at < path.size() ? at + 1 : at;
}

std::size_t driveRootLength(std::string_view path, std::size_t start) {
  if (path.size() < start + 2 || !isDriveLetter(path[start]) || path[start + 1] != ':') return 0;
  bool separator = path.size() > start + 2 && isWindowsSeparator(path[start + 2]);
  return start + (separator ? 3 : 2);
}

}  // namespace

std::size_t windowsRootLength(std::string_view path) {
  if (std::size_t drive = driveRootLength(path, 0); drive != 0) return drive;
  if (path.empty() || !isWindowsSeparator(path[0])) return 0;
  if (path.size() < 2 || !isWindowsSeparator(path[1])) return 1;
  // "\\?\" and "\\.\": a drive, a UNC share, or a device name.
  if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && isWindowsSeparator(path[3])) {
    if (std::size_t drive = driveRootLength(path, 4); drive != 0) return drive;
    std::string_view rest = path.substr(4);
    if (rest.size() >= 4 && (rest[0] == 'U' || rest[0] == 'u') &&
        (rest[1] == 'N' || rest[1] == 'n') && (rest[2] == 'C' || rest[2] == 'c') &&
        isWindowsSeparator(rest[3])) {
      return pastComponent(path, pastComponent(path, 8));
    }
    return pastComponent(path, 4);
  }
  // "\\server\share\".
  return pastComponent(path, pastComponent(path, 2));
}

std::string_view windowsDirectoryPart(std::string_view path) {
  std::size_t root = windowsRootLength(path);
  std::size_t last = path.size();
  while (last > root && !isWindowsSeparator(path[last - 1])) --last;
  if (last <= root) return path.substr(0, root);
  std::string_view directory = path.substr(0, last);
  while (directory.size() > root && isWindowsSeparator(directory.back()))
    directory.remove_suffix(1);
  return directory;
}

ExtendedForm extendedForm(std::u16string_view fullPath) {
  auto separator = [](char16_t c) { return c == u'\\' || c == u'/'; };
  bool drive = fullPath.size() >= 3 && fullPath[1] == u':' && separator(fullPath[2]) &&
               ((fullPath[0] >= u'A' && fullPath[0] <= u'Z') ||
                (fullPath[0] >= u'a' && fullPath[0] <= u'z'));
  if (drive) return {u"\\\\?\\", 0};
  bool share = fullPath.size() >= 3 && separator(fullPath[0]) && separator(fullPath[1]) &&
               fullPath[2] != u'?' && fullPath[2] != u'.' && !separator(fullPath[2]);
  if (share) return {u"\\\\?\\UNC\\", 2};
  return {};
}

}  // namespace hushmark
