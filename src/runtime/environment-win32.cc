// The Windows environment block, UTF-16, copied as WTF-8 entries.
#include <windows.h>

#include "base/wtf8.h"
#include "runtime/environment.h"

namespace hushmark {

namespace {

// Entries follow each other, each ended by a NUL; an empty one ends the
// block.
Result<ByteBuffer> copyBlock(const wchar_t* block) {
  ByteBuffer table;
  for (const wchar_t* entry = block; *entry != L'\0';) {
    std::u16string_view units(reinterpret_cast<const char16_t*>(entry));
    if (auto added = appendWtf8(table, units); !added) return fail(added.error());
    if (auto added = table.append('\0'); !added) return fail(added.error());
    entry += units.size() + 1;
  }
  return table;
}

}  // namespace

const bool Environment::namesIgnoreCase = true;

Result<Environment> Environment::capture() {
  wchar_t* block = ::GetEnvironmentStringsW();
  if (block == nullptr) return Environment();
  auto table = copyBlock(block);
  ::FreeEnvironmentStringsW(block);
  if (!table) return fail(table.error());
  return Environment(std::move(*table));
}

}  // namespace hushmark
