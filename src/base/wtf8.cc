#include "base/wtf8.h"

#include <cstdint>
#include <cstring>

namespace hushmark {

namespace {

bool isLeadSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isTrailSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The WTF-8 sequence at `i`: its length, with its value in `point`; 0 when
// the bytes there begin none (a stray or missing continuation byte, an
// overlong form, a value past U+10FFFF).
std::size_t decodeAt(std::string_view bytes, std::size_t i, char32_t& point) {
  auto at = [&](std::size_t k) { return static_cast<std::uint8_t>(bytes[k]); };
  std::uint8_t lead = at(i);
  std::size_t length = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
  if (length == 0 || bytes.size() - i < length) return 0;
  char32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (at(i + k) & 0x3F);
  }
  if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
    return 0;
  }
  point = value;
  return length;
}

// Writes `point` as one UTF-16 unit or a surrogate pair.
char16_t* putUnits(char32_t point, char16_t* out) {
  if (point >= 0x10000) {
    *out++ = static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
  } else {
    *out++ = static_cast<char16_t>(point);
  }
  return out;
}

}  // namespace

void Wtf8Encoder::unit(char16_t unit) {
  if (pendingLead_ != 0) {
    char32_t lead = pendingLead_;
    pendingLead_ = 0;
    if (isTrailSurrogate(unit)) {
      put(0x10000 + ((lead - 0xD800) << 10) + (unit - 0xDC00));
      return;
    }
    put(lead);
  }
  if (isLeadSurrogate(unit)) {
    pendingLead_ = unit;
    return;
  }
  put(unit);
}

void Wtf8Encoder::finish() {
  if (pendingLead_ != 0) put(pendingLead_);
  pendingLead_ = 0;
}

void Wtf8Encoder::put(char32_t point) {
  std::size_t length = point < 0x80 ? 1 : point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
  length_ += length;
  if (out_ == nullptr) return;
  if (length == 1) {
    *out_++ = static_cast<char>(point);
    return;
  }
  // The lead byte carries the length in its top bits; then six bits a byte.
  static constexpr unsigned char leadMark[] = {0, 0, 0xC0, 0xE0, 0xF0};
  *out_++ = static_cast<char>(leadMark[length] | (point >> (6 * (length - 1))));
  for (std::size_t shift = 6 * (length - 1); shift > 0;) {
    shift -= 6;
    *out_++ = static_cast<char>(0x80 | ((point >> shift) & 0x3F));
  }
}

std::size_t wtf8Length(std::u16string_view units) {
  Wtf8Encoder counter;
  for (char16_t unit : units) counter.unit(unit);
  counter.finish();
  return counter.length();
}

char* encodeWtf8(std::u16string_view units, char* out) {
  Wtf8Encoder encoder(out);
  for (char16_t unit : units) encoder.unit(unit);
  encoder.finish();
  return out + encoder.length();
}

Status appendWtf8(ByteBuffer& out, std::u16string_view units) {
  std::size_t length = wtf8Length(units);
  if (auto room = out.reserveExtra(length); !room) return room;
  out.commit(static_cast<std::size_t>(encodeWtf8(units, out.spare()) - out.spare()));
  return {};
}

std::u16string_view Utf16Text::view() const {
  return {reinterpret_cast<const char16_t*>(bytes_.data()), bytes_.size() / 2};
}

const char16_t* Utf16Text::c_str() const {
  // Every append leaves a NUL unit in the spare room behind the text.
  return bytes_.data() == nullptr ? u"" : reinterpret_cast<const char16_t*>(bytes_.data());
}

void Utf16Text::clear() {
  bytes_.clear();
  if (bytes_.spareSize() >= 2) std::memset(bytes_.spare(), 0, 2);
}

Status Utf16Text::append(std::u16string_view units) {
  if (auto room = bytes_.reserveExtra((units.size() + 1) * 2); !room) return room;
  std::memcpy(bytes_.spare(), units.data(), units.size() * 2);
  bytes_.commit(units.size() * 2);
  std::memset(bytes_.spare(), 0, 2);
  return {};
}

Status Utf16Text::appendWtf8(std::string_view bytes) {
  // At most one unit per byte, and the NUL.
  if (auto room = bytes_.reserveExtra((bytes.size() + 1) * 2); !room) return room;
  char16_t* start = reinterpret_cast<char16_t*>(bytes_.spare());
  char16_t* out = start;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t point = 0;
    std::size_t length = decodeAt(bytes, i, point);
    if (length == 0) {
      *start = 0;  // the text stays as it was
      return fail(Error::InvalidWtf8);
    }
    out = putUnits(point, out);
    i += length;
  }
  *out = 0;
  bytes_.commit(static_cast<std::size_t>(out - start) * 2);
  return {};
}

std::size_t decodeWtf8ForDisplay(std::string_view bytes, char16_t* out) {
  char16_t* start = out;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t point = 0xFFFD;
    std::size_t length = decodeAt(bytes, i, point);
    if (length == 0) point = 0xFFFD;
    out = putUnits(point, out);
    i += length == 0 ? 1 : length;
  }
  return static_cast<std::size_t>(out - start);
}

std::size_t wtf8CompleteEnd(std::string_view bytes) {
  // A lead byte among the last three whose sequence needs more bytes than
  // follow it.
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    auto byte = static_cast<std::uint8_t>(bytes[bytes.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;
    std::size_t length = byte < 0xC2 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : byte < 0xF5 ? 4 : 1;
    return length > back ? bytes.size() - back : bytes.size();
  }
  return bytes.size();
}

}  // namespace hushmark
