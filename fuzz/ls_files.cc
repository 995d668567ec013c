// The parser of "git ls-files -v -z" output that list uses, over arbitrary
// bytes: the whole-output form and the piecewise filter (the output cut
// anywhere, as it arrives from git) must agree, and every listed entry must
// be one "freeze\t" line, one for each entry tagged "S " or "s ".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "worktree/list.h"

namespace {

using namespace hushmark;

void check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = 1 + data[0] % 16;
  std::string_view output(reinterpret_cast<const char*>(data) + 1, size - 1);

  ByteBuffer whole;
  check(appendFrozenPaths(whole, output).has_value());

  ByteBuffer piecewise;
  // Room for every entry with its NUL, the last one included.
  FrozenPathFilter filter(piecewise, output.size() + 1);
  for (std::size_t at = 0; at < output.size(); at += step) {
    check(filter.take(output.substr(at, step)).has_value());
  }
  check(filter.finish().has_value());
  check(piecewise.view() == whole.view());

  std::size_t frozen = 0;
  std::string_view rest = output;
  while (!rest.empty()) {
    std::size_t end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    frozen += entry.starts_with("S ") || entry.starts_with("s ");
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  std::size_t lines = 0;
  std::string_view listed = whole.view();
  while (!listed.empty()) {
    check(listed.starts_with("freeze\t"));
    std::size_t end = listed.find('\n');
    check(end != std::string_view::npos);
    listed.remove_prefix(end + 1);
    ++lines;
  }
  check(lines == frozen);
  return 0;
}
