// Conversion between UTF-16, the text of the Windows API, and WTF-8, the
// program's byte form of it: UTF-8 that also carries unpaired surrogates (as
// their three-byte forms), so that every UTF-16 string, valid or not, comes
// back unchanged from its bytes.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/buffer.h"
#include "base/error.h"

namespace hushmark {

// Turns UTF-16 units, given one at a time, into WTF-8. A lead surrogate is
// held back until the next unit shows whether it starts a pair; `finish`
// writes one still held back. Without a destination it only counts.
class Wtf8Encoder {
 public:
  explicit Wtf8Encoder(char* out = nullptr) : out_(out) {}

  void unit(char16_t unit);
  void finish();
  // The bytes written (or counted) so far.
  std::size_t length() const { return length_; }

 private:
  void put(char32_t point);

  char* out_;
  std::size_t length_ = 0;
  char16_t pendingLead_ = 0;
};

// The number of WTF-8 bytes that `units` becomes.
std::size_t wtf8Length(std::u16string_view units);

// Writes the WTF-8 form of `units` at `out`, which has room for
// `wtf8Length(units)` bytes; returns the end of what was written.
char* encodeWtf8(std::u16string_view units, char* out);

// Appends the WTF-8 form of `units` to `out`.
Status appendWtf8(ByteBuffer& out, std::u16string_view units);

// Writes the UTF-16 form of `bytes` at `out`, which has room for
// `bytes.size()` units, for showing them: each byte that begins no WTF-8
// sequence becomes U+FFFD. Returns the number of units written.
std::size_t decodeWtf8ForDisplay(std::string_view bytes, char16_t* out);

// The end of `bytes` without a sequence at its end that needs bytes still
// to come, so that text handed on in pieces is never split inside one.
std::size_t wtf8CompleteEnd(std::string_view bytes);

// Growable UTF-16 text, always followed by a NUL unit, for handing paths and
// command lines to the Windows API. Growth reports allocation failure.
class Utf16Text {
 public:
  // Appends the UTF-16 form of WTF-8 bytes. InvalidWtf8 when the bytes are
  // no WTF-8 (a stray or missing continuation byte, an overlong form, a
  // value past U+10FFFF); the text is then left as it was.
  Status appendWtf8(std::string_view bytes);
  Status append(std::u16string_view units);
  Status append(char16_t unit) { return append(std::u16string_view(&unit, 1)); }

  std::u16string_view view() const;
  // The text with its NUL after it.
  const char16_t* c_str() const;
  std::size_t size() const { return view().size(); }
  bool empty() const { return size() == 0; }
  void clear();

 private:
  // The units, each as its two bytes, and no NUL: c_str adds it in the
  // spare room that every append keeps.
  ByteBuffer bytes_;
};

}  // namespace hushmark
