#include "runtime/output.h"

#include <cstring>

namespace hushmark {

void BufferedWriter::write(std::string_view bytes) {
  while (!bytes.empty() && status_) {
    if (used_ == capacity_) {
      if (!flush()) return;
    }
    std::size_t take = bytes.size() < capacity_ - used_ ? bytes.size() : capacity_ - used_;
    std::memcpy(storage_ + used_, bytes.data(), take);
    used_ += take;
    bytes.remove_prefix(take);
  }
}

Status BufferedWriter::flush() {
  if (!status_) return status_;
  status_ = writeAll(file_, std::string_view(storage_, used_));
  used_ = 0;
  return status_;
}

}  // namespace hushmark
