// What the Windows build makes of the system's answers where Wine cannot
// give them: a file's identity on ReFS, the lock's name for such an
// identity.
#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "runtime/lock_name.h"
#include "runtime/windows_file_data.h"

namespace hushmark {
namespace {

TEST(WindowsFileId, IdentityFromFileIdInfo) {
  const FileIdentity index{0x5a000000, 0xa72a7f};
  std::array<unsigned char, 16> id{};
  // An answer with no ID, or no answer at all: the older call's identity.
  EXPECT_EQ(identityFromFileId(0x12345678abcd, id, index), index);
  EXPECT_EQ(identityFromFileId(std::nullopt, id, index), index);
  // NTFS's 64-bit number in the low half, with the volume's 64-bit serial.
  id = {0x7f, 0x2a, 0xa7};
  EXPECT_EQ(identityFromFileId(0x1234'5a000000, id, index),
            (FileIdentity{0x1234'5a000000, 0xa72a7f, 0}));
  // ReFS: two files whose low halves agree are told apart by the high one.
  id[8] = 0x01;
  id[15] = 0x80;
  EXPECT_EQ(identityFromFileId(7, id, index), (FileIdentity{7, 0xa72a7f, 0x8000000000000001}));
  EXPECT_EQ(identityFromFileId(std::nullopt, id, index), index);
}

TEST(WindowsLockName, HoldsTheWholeIdentity) {
  LockName name(u"Global\\", FileIdentity{0x1234'5a000000, 0xa72a7f, 0x8000000000000001});
  EXPECT_EQ(name.view(),
            u"Global\\hushmark-lock-000012345a000000"
            u"8000000000000001"
            u"0000000000a72a7f");
  EXPECT_EQ(name.get()[name.view().size()], u'\0');
  EXPECT_EQ(LockName(u"Local\\", FileIdentity{}).view().size(), 6u + 14 + 48);
}

}  // namespace
}  // namespace hushmark
