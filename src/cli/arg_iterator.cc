#include "cli/arg_iterator.h"

namespace hushmark {

std::optional<std::string_view> ArgIterator::next() {
  if (position_ >= args_.size() || args_[position_] == nullptr) return std::nullopt;
  return std::string_view(args_[position_++]);
}

}  // namespace hushmark
