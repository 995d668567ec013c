#include "files/windows_file_data.h"

#include <new>
#include <string>
#include <string_view>

#include "base/wtf8.h"

namespace hushmark {

namespace {

std::uint64_t littleEndian(std::span<const unsigned char> bytes) {
  std::uint64_t value = 0;
  for (std::size_t at = bytes.size(); at > 0; --at) value = (value << 8) | bytes[at - 1];
  return value;
}

// The reparse tag of a symbolic link, and its flag for a target relative to
// the link's directory.
constexpr std::uint32_t symbolicLinkTag = 0xA000000C;
constexpr std::uint32_t relativeFlag = 1;
// Tag, lengths and flags before the path buffer.
constexpr std::size_t headerSize = 20;

bool isDrive(std::u16string_view path) {
  return path.size() >= 2 && path[1] == u':' &&
         ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
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

Result<std::optional<ByteBuffer>> symbolicLinkTarget(std::span<const unsigned char> data) {
  if (data.size() < headerSize || littleEndian(data.first(4)) != symbolicLinkTag) {
    return std::nullopt;
  }
  std::size_t offset = littleEndian(data.subspan(8, 2));
  std::size_t length = littleEndian(data.subspan(10, 2));
  auto flags = static_cast<std::uint32_t>(littleEndian(data.subspan(16, 4)));
  if (length == 0 || length % 2 != 0 || headerSize + offset + length > data.size()) {
    return std::nullopt;
  }
  std::u16string name;
  try {
    name.resize(length / 2);
  } catch (const std::bad_alloc&) {
    return fail(Error::OutOfMemory);
  }
  for (std::size_t unit = 0; unit < name.size(); ++unit) {
    name[unit] =
        static_cast<char16_t>(littleEndian(data.subspan(headerSize + offset + 2 * unit, 2)));
  }
  // An absolute target is an NT path: "\??\C:\...", "\??\UNC\server\..."
  // or another device's "\??\..." path, which the file calls take as
  // "\\?\...".
  std::u16string_view target(name);
  std::u16string_view prefix;
  if ((flags & relativeFlag) == 0 && target.starts_with(u"\\??\\")) {
    target.remove_prefix(4);
    if (target.starts_with(u"UNC\\")) {
      target.remove_prefix(4);
      prefix = u"\\\\";
    } else if (!isDrive(target)) {
      prefix = u"\\\\?\\";
    }
  }
  ByteBuffer bytes;
  if (auto added = appendWtf8(bytes, prefix); !added) return fail(added.error());
  if (auto added = appendWtf8(bytes, target); !added) return fail(added.error());
  return std::optional<ByteBuffer>(std::move(bytes));
}

}  // namespace hushmark
