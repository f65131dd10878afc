// UTF-8 for hostprobe's own texts: reading any character, writing the code
// points below U+0800 that the window's Latin letters and snapshot texts of
// one byte per character (U+0000 to U+00FF) need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hostprobe {

// Appends `cp` (below U+0800) as one or two UTF-8 bytes.
inline void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Returned by ReadUtf8 for a byte that starts no character, or a character
// cut off.
inline constexpr uint32_t kNotUtf8 = 0xFFFFFFFF;

// The code point of the UTF-8 character at text[*at], moving *at past it;
// kNotUtf8 (and *at unchanged) where no whole character starts. Overlong
// forms are not told apart: texts the JSON parser passed have none.
inline uint32_t ReadUtf8(std::string_view text, std::size_t* at) {
  const auto b0 = static_cast<unsigned char>(text[*at]);
  const std::size_t length = b0 < 0x80              ? 1
                             : (b0 & 0xE0) == 0xC0 ? 2
                             : (b0 & 0xF0) == 0xE0 ? 3
                             : (b0 & 0xF8) == 0xF0 ? 4
                                                   : 0;
  if (length == 0 || *at + length > text.size()) return kNotUtf8;
  uint32_t cp = length == 1 ? b0 : b0 & (0x7Fu >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[*at + k]);
    if ((b & 0xC0) != 0x80) return kNotUtf8;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  *at += length;
  return cp;
}

}  // namespace hostprobe
