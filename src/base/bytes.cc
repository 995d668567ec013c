#include "base/bytes.h"

#include <cstring>

namespace hushmark {

namespace {

// Short needles: find the first byte with memchr, then compare the rest.
// The answer is offset by `base`.
std::size_t findShort(const unsigned char* hay, std::size_t size, const unsigned char* needle,
                      std::size_t length, std::size_t base) {
  const unsigned char* from = hay;
  const unsigned char* lastStart = hay + (size - length);
  while (from <= lastStart) {
    const void* hit = std::memchr(from, needle[0], static_cast<std::size_t>(lastStart - from) + 1);
    if (hit == nullptr) return notFound;
    const auto* start = static_cast<const unsigned char*>(hit);
    if (std::memcmp(start + 1, needle + 1, length - 1) == 0) {
      return base + static_cast<std::size_t>(start - hay);
    }
    from = start + 1;
  }
  return notFound;
}

// A hash of two neighbouring bytes into the table's 12 bits. It spreads the
// pairs well, so a pair that is common in the haystack seldom shares its
// slot with a pair of the needle.
inline std::size_t pairHash(unsigned char before, unsigned char at) {
  std::uint32_t pair = (static_cast<std::uint32_t>(before) << 8) | at;
  return (pair * 0x9E3779B1u) >> 20;
}

// The needles that the table describes: of a longer needle the first bytes
// are searched for, and the rest compared.
constexpr std::size_t longestIndexed = 256;
constexpr std::size_t shortestIndexed = 4;

}  // namespace

ByteSearch::ByteSearch(std::string_view needle) : needle_(needle) {
  if (needle.size() < shortestIndexed) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(needle.data());
  const std::size_t length = needle.size() < longestIndexed ? needle.size() : longestIndexed;
  const std::size_t last = length - 1;
  std::memset(pairEnd_, 0, sizeof pairEnd_);
  for (std::size_t j = 1; j < last; ++j) {
    pairEnd_[pairHash(bytes[j - 1], bytes[j])] = static_cast<std::uint8_t>(j);
  }
  const std::size_t lastPair = pairHash(bytes[last - 1], bytes[last]);
  // After a failed comparison the window moves on to the next earlier pair
  // with the same hash, if any.
  onMismatch_ = last - pairEnd_[lastPair];
  pairEnd_[lastPair] = static_cast<std::uint8_t>(last);
}

// Horspool's search on pairs of bytes, over the needle's first (at most 256)
// bytes. The window moves on by their number less one while its last two
// bytes hash like no pair of the needle, which is the common case; that step
// does not depend on the table's answer, so the processor can run ahead of
// the lookups. Otherwise the window moves to line that pair up, and only a
// window whose last pair hashes like the needle's last pair is compared in
// full.
std::size_t ByteSearch::findIndexed(const unsigned char* hay, std::size_t size,
                                    std::size_t from) const {
  const auto* needle = reinterpret_cast<const unsigned char*>(needle_.data());
  const std::size_t length = needle_.size() < longestIndexed ? needle_.size() : longestIndexed;
  const std::size_t last = length - 1;
  std::size_t end = from + last;  // offset of the window's last byte
  while (end < size) {
    std::size_t at = pairEnd_[pairHash(hay[end - 1], hay[end])];
    if (at == 0) {
      end += last;
    } else if (at != last) {
      end += last - at;
    } else {
      std::size_t start = end - last;
      if (std::memcmp(hay + start, needle, length) == 0) return start;
      end += onMismatch_;
    }
  }
  return notFound;
}

std::size_t ByteSearch::find(std::string_view haystack, std::size_t from) const {
  const std::size_t length = needle_.size();
  const std::size_t size = haystack.size();
  if (from > size || length > size - from) return notFound;
  if (length == 0) return from;
  const auto* hay = reinterpret_cast<const unsigned char*>(haystack.data());
  const auto* needle = reinterpret_cast<const unsigned char*>(needle_.data());
  if (length < shortestIndexed) return findShort(hay + from, size - from, needle, length, from);
  while (size - from >= length) {
    std::size_t start = findIndexed(hay, size, from);
    if (start == notFound || size - start < length) return notFound;
    if (length <= longestIndexed ||
        std::memcmp(hay + start + longestIndexed, needle + longestIndexed,
                    length - longestIndexed) == 0) {
      return start;
    }
    from = start + 1;
  }
  return notFound;
}

std::size_t findBytes(std::string_view haystack, std::string_view needle) {
  if (needle.size() < shortestIndexed) {
    // No table needed: spare setting one up.
    if (needle.size() > haystack.size()) return notFound;
    if (needle.empty()) return 0;
    return findShort(reinterpret_cast<const unsigned char*>(haystack.data()), haystack.size(),
                     reinterpret_cast<const unsigned char*>(needle.data()), needle.size(), 0);
  }
  return ByteSearch(needle).find(haystack);
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
