// The path that the Windows file calls are given: long ones in their
// "\\?\" form, which no length limit applies to.
#include <windows.h>

#include "base/buffer.h"
#include "files/windows_path.h"

namespace hushmark {

namespace {

// The full form of `path` as GetFullPathNameW gives it (the current
// directory before a relative path, "." and ".." resolved, backslashes),
// when it is at least `shortest` units long; nothing otherwise, or when the
// system cannot tell it.
Status fullPathUnits(ByteBuffer& out, const Utf16Text& path, std::size_t shortest) {
  auto source = reinterpret_cast<const wchar_t*>(path.c_str());
  // The length with the NUL comes first.
  DWORD needed = ::GetFullPathNameW(source, 0, nullptr, nullptr);
  if (needed == 0 || needed <= shortest) return {};
  if (auto room = out.reserveExtra(std::size_t{needed} * 2); !room) return room;
  DWORD length =
      ::GetFullPathNameW(source, needed, reinterpret_cast<wchar_t*>(out.spare()), nullptr);
  if (length > 0 && length < needed) out.commit(std::size_t{length} * 2);
  return {};
}

std::u16string_view unitsOf(const ByteBuffer& buffer) {
  return {reinterpret_cast<const char16_t*>(buffer.data()), buffer.size() / 2};
}

}  // namespace

Status appendFileSystemPath(Utf16Text& out, std::string_view path) {
  Utf16Text written;
  if (auto added = written.appendWtf8(path); !added) return added;
  ByteBuffer full;
  if (auto made = fullPathUnits(full, written, longPathThreshold); !made) return made;
  std::u16string_view units = unitsOf(full);
  ExtendedForm form = extendedForm(units);
  // A path whose full form cannot be had, or is short, goes as written.
  if (units.size() < longPathThreshold || form.prefix.empty()) return out.append(written.view());
  if (auto added = out.append(form.prefix); !added) return added;
  return out.append(units.substr(form.replaced));
}

}  // namespace hushmark
