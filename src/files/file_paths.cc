#include "files/file_paths.h"

#include <optional>
#include <utility>

#include "files/file.h"
#include "files/symlink.h"

namespace hushmark {

namespace {

// How many links a path may go through before it counts as a loop.
constexpr int maxLinkHops = 40;

bool isDirectory(const Result<std::optional<FileStatus>>& status) {
  return status && *status && (*status)->kind == FileKind::Directory;
}

}  // namespace

Status createDirectories(std::string_view directory) {
  if (directory.empty() || isDirectory(statusOf(directory))) return {};
  // Outermost first: every prefix past the root that ends before a
  // separator, then the whole path.
  for (std::size_t end = pathRootLength(directory) + 1; end <= directory.size(); ++end) {
    if (end < directory.size() && !isPathSeparator(directory[end])) continue;
    if (isPathSeparator(directory[end - 1])) continue;
    std::string_view prefix = directory.substr(0, end);
    auto made = createDirectory(prefix);
    if (made) continue;
    // An existing directory may also answer with a refusal (a drive's root,
    // a share, a directory this user may not write): it is fine as it is.
    auto found = statusOf(prefix);
    if (isDirectory(found)) continue;
    if (found && *found) return fail(Error::NotDir);
    return made;
  }
  return {};
}

Result<ByteBuffer> resolveSymbolicLinks(std::string_view path) {
  ByteBuffer current;
  if (auto added = current.append(path); !added) return fail(added.error());
  for (int hops = 0;; ++hops) {
    auto target = readSymbolicLink(current.view());
    if (!target) return fail(target.error());
    if (!*target) return current;
    if (hops == maxLinkHops) return fail(Error::SymLinkLoop);
    if (pathRootLength((*target)->view()) > 0) {
      current = std::move(**target);
      continue;
    }
    std::string_view directory = directoryPart(current.view());
    ByteBuffer joined;
    if (!directory.empty()) {
      if (auto added = joined.append(directory); !added) return fail(added.error());
      if (!isPathSeparator(directory.back())) {
        if (auto added = joined.append('/'); !added) return fail(added.error());
      }
    }
    if (auto added = joined.append((*target)->view()); !added) return fail(added.error());
    current = std::move(joined);
  }
}

}  // namespace hushmark
