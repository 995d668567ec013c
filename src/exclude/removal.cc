#include "exclude/removal.h"

#include <new>

namespace hushmark {

Result<RemovalScan> scanForRemoval(File& file, const PresenceScan& scan, std::size_t maxRanges) {
  RemovalScan result;
  std::uint64_t pieceStart = 0;  // the file offset of the piece at hand
  std::uint64_t keptFrom = 0;    // where the stretch being kept began
  bool outOfMemory = false;
  auto keep = [&](std::uint64_t end) {
    if (end == keptFrom) return true;
    if (result.kept.size() == maxRanges) {
      result.tooManyRanges = true;
      return false;
    }
    try {
      result.kept.push_back(FileRange{file, keptFrom, end - keptFrom});
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
      return false;
    }
    return true;
  };
  auto scanned = scanExcludeFile(file, [&](std::string_view lines) {
    bool goOn = scan.forEachMatchingLine(lines, [&](std::size_t start, std::size_t end) {
      result.anyRemoved = true;
      if (!keep(pieceStart + start)) return false;
      keptFrom = pieceStart + end;
      return true;
    });
    pieceStart += lines.size();
    return goOn;
  });
  if (outOfMemory) return fail(Error::OutOfMemory);
  if (!scanned) return fail(scanned.error());
  result.summary = *scanned;
  if (result.summary.complete && !keep(result.summary.size)) {
    if (outOfMemory) return fail(Error::OutOfMemory);
    result.summary.complete = false;
  }
  return result;
}

}  // namespace hushmark
