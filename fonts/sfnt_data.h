// Big-endian reads and writes of the sfnt format, private to fonts/. Every
// read is checked against the end of the data it is given and yields 0
// outside it, so a parser that forgets a check reads zeros, never beyond its
// buffer; the parsers still check with Holds before they trust a value.
#ifndef QUILLANE_FONTS_SFNT_DATA_H_
#define QUILLANE_FONTS_SFNT_DATA_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/text.h"

namespace quillane::fonts::detail {

class SfntData {
 public:
  explicit SfntData(std::string_view bytes) : bytes_(bytes) {}

  std::size_t Size() const { return bytes_.size(); }
  std::string_view Bytes() const { return bytes_; }

  // True when `count` bytes from `offset` lie inside the data; no sum can
  // overflow here.
  bool Holds(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }

  // The value at `offset`, or 0 when it does not lie wholly inside the data.
  std::uint8_t U8(std::size_t offset) const {
    return Holds(offset, 1) ? static_cast<std::uint8_t>(bytes_[offset]) : 0;
  }
  std::uint16_t U16(std::size_t offset) const {
    if (!Holds(offset, 2)) return 0;
    return static_cast<std::uint16_t>(U8(offset) << 8 | U8(offset + 1));
  }
  std::int16_t S16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
  std::uint32_t U32(std::size_t offset) const {
    if (!Holds(offset, 4)) return 0;
    return std::uint32_t{U16(offset)} << 16 | U16(offset + 2);
  }

  // The bytes from `offset`, at most `count` of them, cut at the end of the
  // data.
  SfntData Part(std::size_t offset, std::size_t count) const {
    if (offset > bytes_.size()) return SfntData({});
    return SfntData(bytes_.substr(offset, count));
  }

 private:
  std::string_view bytes_;
};

// A table tag from its four characters, as the sfnt directory stores it.
constexpr std::uint32_t Tag(const char (&name)[5]) {
  return std::uint32_t{static_cast<unsigned char>(name[0])} << 24 |
         std::uint32_t{static_cast<unsigned char>(name[1])} << 16 |
         std::uint32_t{static_cast<unsigned char>(name[2])} << 8 |
         std::uint32_t{static_cast<unsigned char>(name[3])};
}

inline void AppendU16(Text& out, std::uint32_t value) {
  out += static_cast<char>(value >> 8 & 0xFF);
  out += static_cast<char>(value & 0xFF);
}

inline void AppendU32(Text& out, std::uint32_t value) {
  AppendU16(out, value >> 16);
  AppendU16(out, value & 0xFFFF);
}

// Overwrites the two bytes at `offset`. REQUIRES: offset + 2 <= out.size().
inline void PutU16(Text& out, std::size_t offset, std::uint32_t value) {
  out[offset] = static_cast<char>(value >> 8 & 0xFF);
  out[offset + 1] = static_cast<char>(value & 0xFF);
}

inline void PutU32(Text& out, std::size_t offset, std::uint32_t value) {
  PutU16(out, offset, value >> 16);
  PutU16(out, offset + 2, value & 0xFFFF);
}

}  // namespace quillane::fonts::detail

#endif  // QUILLANE_FONTS_SFNT_DATA_H_
