#include "base/bytes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace hushmark {
namespace {

TEST(FindBytesTest, FindsTheFirstOccurrence) {
  struct Case {
    std::string_view haystack, needle;
    std::size_t found;
  };
  const Case cases[] = {
      {"", "", 0},
      {"abc", "", 0},
      {"", "a", notFound},
      {"ab", "abc", notFound},
      {"xabcabc", "abc", 1},
      {"a\nb\n\npresent/pattern.log\n", "\npresent/pattern.log", 4},
      {"\npresent/pattern.lo", "\npresent/pattern.log", notFound},
      {"aaaaaaaaab", "aaab", 6},
      {std::string_view("a\0b\0c", 5), std::string_view("\0c", 2), 3},
      {"\xff\xfe\xff\xfe\xfd", "\xfe\xff\xfe\xfd", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(findBytes(c.haystack, c.needle), c.found) << c.haystack << " / " << c.needle;
  }
}

// Random haystacks and needles over a small alphabet, so that near misses and
// hash collisions are common, against the standard library's search.
TEST(FindBytesTest, AgreesWithTheStandardSearch) {
  std::mt19937 random(12);
  for (int round = 0; round < 20000; ++round) {
    auto make = [&](std::size_t length) {
      std::string bytes;
      for (std::size_t i = 0; i < length; ++i) bytes.push_back("ab\n\xff"[random() % 4]);
      return bytes;
    };
    std::string haystack = make(random() % 600);
    std::string needle = make(1 + random() % (round % 3 == 0 ? 300 : 8));
    if (round % 2 == 0 && haystack.size() > needle.size()) {
      haystack.replace(random() % (haystack.size() - needle.size()), needle.size(), needle);
    }
    ASSERT_EQ(findBytes(haystack, needle), haystack.find(needle)) << haystack << " / " << needle;
    std::size_t from = random() % (haystack.size() + 2);
    ASSERT_EQ(ByteSearch(needle).find(haystack, from), haystack.find(needle, from))
        << haystack << " / " << needle << " from " << from;
  }
}

TEST(FindLastByteTest, AgreesWithTheStandardSearch) {
  std::mt19937 random(3);
  for (int round = 0; round < 5000; ++round) {
    std::string bytes;
    std::size_t length = random() % 40;
    for (std::size_t i = 0; i < length; ++i) bytes.push_back("x\n\x80\x0a\x8a"[random() % 5]);
    for (char byte : {'\n', '\x80', 'x', 'q'}) {
      ASSERT_EQ(findLastByte(bytes, byte), std::string_view(bytes).rfind(byte)) << bytes;
    }
  }
}

}  // namespace
}  // namespace hushmark
