// Searches in byte strings that the C library offers only as extensions of
// some systems: the first occurrence of a byte string, and the last
// occurrence of a byte.
#pragma once

#include <cstddef>
#include <string_view>

namespace hushmark {

inline constexpr std::size_t notFound = std::string_view::npos;

// The offset of the first occurrence of `needle` in `haystack`, or notFound.
// An empty needle is found at offset 0. Skips through the haystack by the
// needle's length where it can, so a long needle costs less per byte than
// a short one.
std::size_t findBytes(std::string_view haystack, std::string_view needle);

// The offset of the last `byte` in `bytes`, or notFound.
std::size_t findLastByte(std::string_view bytes, char byte);

}  // namespace hushmark
