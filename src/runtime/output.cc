#include "runtime/output.h"

#include <cstring>

#include "base/wtf8.h"

namespace hushmark {

void BufferedWriter::write(std::string_view bytes) {
  while (!bytes.empty() && status_) {
    if (used_ == capacity_) {
      // Full: a sequence that the coming bytes finish stays for the next
      // write, so that no write ends inside one.
      std::size_t end = wtf8CompleteEnd(std::string_view(storage_, used_));
      if (end == 0) end = used_;
      status_ = writeAll(file_, std::string_view(storage_, end));
      if (!status_) return;
      std::memmove(storage_, storage_ + end, used_ - end);
      used_ -= end;
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
