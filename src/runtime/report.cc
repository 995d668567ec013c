#include "runtime/report.h"

#include "runtime/output.h"

namespace hushmark {

Status reportError(std::string_view message) {
  for (std::string_view piece : {std::string_view("hushmark: "), message, std::string_view("\n")}) {
    if (auto written = writeAll(standardError(), piece); !written) return written;
  }
  return {};
}

}  // namespace hushmark
