// Where the lines that unhide removes stand in the exclude file, found in
// one piecewise scan, so that the new file can be made of the old bytes
// around them.
#pragma once

#include <cstddef>
#include <vector>

#include "base/error.h"
#include "exclude/exclude_file.h"
#include "exclude/patterns.h"
#include "files/file.h"

namespace hushmark {

struct RemovalScan {
  // The scan's summary; not in written form either when the kept stretches
  // would begin with a line that starts with the bytes of a byte order mark,
  // which Git skips at the start of a file.
  ExcludeFileScan summary;
  // Some line equals a pattern.
  bool anyRemoved = false;
  // The scan stopped because the stretches to keep outnumbered the limit.
  bool tooManyRanges = false;
  // The stretches of the file between the lines that equal a pattern, in
  // order, without empty ones. Complete only when the scan is complete.
  std::vector<FileRange> kept;
};

// Scans `file` from its start for the lines that equal one of the scan's
// patterns and notes the stretches around them, at most `maxRanges` of them.
Result<RemovalScan> scanForRemoval(File& file, const PresenceScan& scan, std::size_t maxRanges);

}  // namespace hushmark
