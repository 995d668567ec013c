#include "exclude/removal.h"

#include <new>

#include "exclude/lines.h"

namespace hushmark {

Result<RemovalScan> scanForRemoval(File& file, const PresenceScan& scan, std::size_t maxRanges) {
  RemovalScan result;
  std::uint64_t pieceStart = 0;  // the file offset of the piece at hand
  std::uint64_t keptFrom = 0;    // where the stretch being kept began
  bool outOfMemory = false;
  // While nothing is kept yet: whether the line where the kept stretches
  // would begin starts with the bytes of a byte order mark, which Git would
  // then skip.
  bool markLed = false;
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
    // A byte order mark belongs to no line; it stays in the first stretch.
    std::size_t mark = 0;
    if (pieceStart == 0) {
      mark = leadingByteOrderMark(lines).size();
    } else if (result.kept.empty() && keptFrom == pieceStart) {
      markLed = lines.starts_with(byteOrderMark);
    }
    pieceStart += mark;
    lines.remove_prefix(mark);
    bool goOn = scan.forEachMatchingLine(lines, [&](std::size_t start, std::size_t end) {
      result.anyRemoved = true;
      if (!keep(pieceStart + start)) return false;
      keptFrom = pieceStart + end;
      if (result.kept.empty()) markLed = lines.substr(end).starts_with(byteOrderMark);
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
  // The kept stretches alone would not read as before: the file is rebuilt.
  if (markLed && !result.kept.empty()) result.summary.writtenForm = false;
  return result;
}

}  // namespace hushmark
