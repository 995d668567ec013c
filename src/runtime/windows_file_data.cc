#include "runtime/windows_file_data.h"

namespace hushmark {

namespace {

std::uint64_t littleEndian(std::span<const unsigned char> bytes) {
  std::uint64_t value = 0;
  for (std::size_t at = bytes.size(); at > 0; --at) value = (value << 8) | bytes[at - 1];
  return value;
}

}  // namespace

FileIdentity identityFromFileId(std::optional<std::uint64_t> volume,
                                std::span<const unsigned char, 16> id, FileIdentity fallback) {
  FileIdentity identity;
  identity.index = littleEndian(id.first(8));
  identity.indexHigh = littleEndian(id.last(8));
  if (!volume || (identity.index == 0 && identity.indexHigh == 0)) return fallback;
  identity.volume = *volume;
  return identity;
}

}  // namespace hushmark
