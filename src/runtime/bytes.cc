#include "runtime/bytes.h"

#include <cstdint>
#include <cstring>

namespace hushmark {

namespace {

// A hash of two neighbouring bytes, for the table below.
inline std::size_t pairHash(unsigned char before, unsigned char at) {
  return (static_cast<std::size_t>(at) - (static_cast<std::size_t>(before) << 3)) & 0xffu;
}

// Short needles: find the first byte with memchr, then compare the rest.
std::size_t findShort(const unsigned char* hay, std::size_t size, const unsigned char* needle,
                      std::size_t length) {
  const unsigned char* from = hay;
  const unsigned char* lastStart = hay + (size - length);
  while (from <= lastStart) {
    const void* hit = std::memchr(from, needle[0], static_cast<std::size_t>(lastStart - from) + 1);
    if (hit == nullptr) return notFound;
    const auto* start = static_cast<const unsigned char*>(hit);
    if (std::memcmp(start + 1, needle + 1, length - 1) == 0) {
      return static_cast<std::size_t>(start - hay);
    }
    from = start + 1;
  }
  return notFound;
}

// The longest needle that the table below describes.
constexpr std::size_t longestIndexed = 256;

// Needles of 4 to 256 bytes: a variant of Horspool's search on pairs of
// bytes. The table tells, for the hash of a pair, where the needle's last
// pair with that hash ends (0: no pair of the needle has it). The window
// moves on by the needle's length less one while its last two bytes hash
// like no pair of the needle, which is the common case; that step does not
// depend on the table's answer, so the processor can run ahead of the
// lookups. Otherwise the window moves to line that pair up, and only a
// window whose last pair hashes like the needle's last pair is compared in
// full.
class IndexedNeedle {
 public:
  IndexedNeedle(const unsigned char* needle, std::size_t length)
      : needle_(needle), length_(length) {
    const std::size_t last = length - 1;
    std::memset(pairEnd_, 0, sizeof pairEnd_);
    for (std::size_t j = 1; j < last; ++j) {
      pairEnd_[pairHash(needle[j - 1], needle[j])] = static_cast<std::uint8_t>(j);
    }
    const std::size_t lastPair = pairHash(needle[last - 1], needle[last]);
    // After a failed comparison the window moves on to the next earlier
    // pair with the same hash, if any.
    onMismatch_ = last - pairEnd_[lastPair];
    pairEnd_[lastPair] = static_cast<std::uint8_t>(last);
  }

  // The first match that starts at `from` or later.
  std::size_t find(const unsigned char* hay, std::size_t size, std::size_t from) const {
    const std::size_t last = length_ - 1;
    std::size_t end = from + last;  // offset of the window's last byte
    while (end < size) {
      std::size_t at = pairEnd_[pairHash(hay[end - 1], hay[end])];
      if (at == 0) {
        end += last;
      } else if (at != last) {
        end += last - at;
      } else {
        std::size_t start = end - last;
        if (std::memcmp(hay + start, needle_, length_) == 0) return start;
        end += onMismatch_;
      }
    }
    return notFound;
  }

 private:
  const unsigned char* needle_;
  std::size_t length_;
  std::size_t onMismatch_;
  std::uint8_t pairEnd_[256];
};

}  // namespace

std::size_t findBytes(std::string_view haystack, std::string_view needle) {
  const std::size_t length = needle.size();
  const std::size_t size = haystack.size();
  if (length == 0) return 0;
  if (length > size) return notFound;
  const auto* hay = reinterpret_cast<const unsigned char*>(haystack.data());
  const auto* pattern = reinterpret_cast<const unsigned char*>(needle.data());
  if (length < 4) return findShort(hay, size, pattern, length);
  // A needle longer than the table describes: find its first bytes, then
  // compare the rest.
  const IndexedNeedle head(pattern, length <= longestIndexed ? length : longestIndexed);
  if (length <= longestIndexed) return head.find(hay, size, 0);
  std::size_t from = 0;
  while (size - from >= length) {
    std::size_t start = head.find(hay, size, from);
    if (start == notFound || size - start < length) return notFound;
    if (std::memcmp(hay + start + longestIndexed, pattern + longestIndexed,
                    length - longestIndexed) == 0) {
      return start;
    }
    from = start + 1;
  }
  return notFound;
}

std::size_t findLastByte(std::string_view bytes, char byte) {
  const char* data = bytes.data();
  std::size_t end = bytes.size();
  // A word at a time from the end, then byte by byte in the word that holds
  // it: a word holds the byte when one of its bytes is zero after an XOR
  // with the byte repeated.
  const std::uint64_t ones = 0x0101010101010101u;
  const std::uint64_t highs = 0x8080808080808080u;
  const std::uint64_t repeated = ones * static_cast<unsigned char>(byte);
  while (end >= sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, data + end - sizeof word, sizeof word);
    word ^= repeated;
    if (((word - ones) & ~word & highs) != 0) break;
    end -= sizeof word;
  }
  while (end > 0) {
    if (data[end - 1] == byte) return end - 1;
    --end;
  }
  return notFound;
}

}  // namespace hushmark
