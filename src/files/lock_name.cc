#include "files/lock_name.h"

#include <cstdint>

namespace hushmark {

LockName::LockName(std::u16string_view space, const FileIdentity& identity) {
  // The longest prefix, "Global\", fits with room for the NUL.
  space = space.substr(0, 7);
  for (std::u16string_view part : {space, std::u16string_view(u"hushmark-lock-")}) {
    for (char16_t c : part) text_[size_++] = c;
  }
  for (std::uint64_t part : {identity.volume, identity.indexHigh, identity.index}) {
    for (int shift = 60; shift >= 0; shift -= 4)
      text_[size_++] = u"0123456789abcdef"[(part >> shift) & 15];
  }
  text_[size_] = u'\0';
}

}  // namespace hushmark
