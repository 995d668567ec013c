// Searches in byte strings that the C library offers only as extensions of
// some systems: the first occurrence of a byte string, and the last
// occurrence of a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hushmark {

inline constexpr std::size_t notFound = std::string_view::npos;

// A search for one needle, prepared once and then run over any number of
// haystacks. It skips through a haystack by nearly the needle's length where
// it can, so a long needle costs less per byte than a short one. The needle's
// bytes are not copied: they must outlive the search.
class ByteSearch {
 public:
  explicit ByteSearch(std::string_view needle);

  // The offset of the first occurrence in `haystack` that starts at `from`
  // or later, or notFound. An empty needle is found at `from` (when that
  // lies inside the haystack or at its end).
  std::size_t find(std::string_view haystack, std::size_t from = 0) const;

 private:
  std::size_t findIndexed(const unsigned char* hay, std::size_t size, std::size_t from) const;

  std::string_view needle_;
  // How far the window moves after a failed comparison.
  std::size_t onMismatch_ = 0;
  // For each hash of two neighbouring bytes, where the needle's last pair
  // with that hash ends (0: none).
  std::uint8_t pairEnd_[4096];
};

// The offset of the first occurrence of `needle` in `haystack`, or notFound.
// An empty needle is found at offset 0.
std::size_t findBytes(std::string_view haystack, std::string_view needle);

// The offset of the last `byte` in `bytes`, or notFound.
std::size_t findLastByte(std::string_view bytes, char byte);

}  // namespace hushmark
