// What the Windows build makes of the system's answers where Wine cannot
// give them: a file's identity on ReFS, a symbolic link's stored names,
// the lock's name for such an identity, the time a closing console allows.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "files/lock_name.h"
#include "files/windows_file_data.h"
#include "runtime/console_close.h"

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

// The reparse data of a symbolic link: tag, lengths, flags, then the
// substitute name and the print name.
std::vector<unsigned char> linkData(std::u16string_view substitute, std::u16string_view print,
                                    std::uint32_t flags, std::uint32_t tag = 0xA000000C) {
  std::vector<unsigned char> data;
  auto put = [&](std::uint64_t value, int bytes) {
    for (int at = 0; at < bytes; ++at)
      data.push_back(static_cast<unsigned char>(value >> (8 * at)));
  };
  std::size_t names = 2 * (substitute.size() + print.size());
  put(tag, 4);
  put(12 + names, 2);
  put(0, 2);
  put(0, 2);
  put(2 * substitute.size(), 2);
  put(2 * substitute.size(), 2);
  put(2 * print.size(), 2);
  put(flags, 4);
  for (std::u16string_view name : {substitute, print}) {
    for (char16_t unit : name) put(unit, 2);
  }
  return data;
}

TEST(WindowsSymbolicLink, TargetIsTheSubstituteName) {
  struct Case {
    const char* what;
    std::vector<unsigned char> data;
    std::optional<std::string> target;
  };
  const std::vector<Case> cases = {
      {"drive path", linkData(u"\\??\\C:\\repo\\exclude", u"C:\\repo\\exclude", 0),
       "C:\\repo\\exclude"},
      {"empty print name", linkData(u"\\??\\D:\\x", u"", 0), "D:\\x"},
      {"print name elsewhere", linkData(u"\\??\\D:\\real", u"C:\\shown", 0), "D:\\real"},
      {"share", linkData(u"\\??\\UNC\\server\\share\\x", u"\\\\server\\share\\x", 0),
       "\\\\server\\share\\x"},
      {"volume", linkData(u"\\??\\Volume{1}\\x", u"", 0), "\\\\?\\Volume{1}\\x"},
      {"relative", linkData(u"..\\real\\exclude", u"..\\real\\exclude", 1), "..\\real\\exclude"},
      {"no substitute name", linkData(u"", u"C:\\shown", 0), std::nullopt},
      {"a junction", linkData(u"\\??\\C:\\x", u"", 0, 0xA0000003), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto target = symbolicLinkTarget(c.data);
    ASSERT_TRUE(target);
    if (!c.target) {
      EXPECT_FALSE(*target);
      continue;
    }
    ASSERT_TRUE(*target);
    EXPECT_EQ((*target)->view(), *c.target);
  }
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

// The handling of a closing console, with primitives that take all the
// time they are allowed: it ends git even when the rewrite does not finish,
// and stays well inside the time Windows gives.
TEST(ConsoleClose, EndsWithinTheSystemsLimit) {
  std::vector<int> waits;
  handleConsoleClose([&](int milliseconds) { waits.push_back(milliseconds); },
                     [&](int milliseconds) { waits.push_back(-milliseconds); });
  ASSERT_EQ(waits.size(), 2u);
  EXPECT_GT(waits[0], 0) << "the rewrite is waited for first";
  EXPECT_LE(waits[0] - waits[1], consoleCloseLimitMilliseconds - 1000);
}

}  // namespace
}  // namespace hushmark
