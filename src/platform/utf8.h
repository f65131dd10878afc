// The UTF-8 of hostprobe's own texts: code points below U+0800, enough for
// the Latin letters of the window's texts and for snapshot texts of one byte
// per character (U+0000 to U+00FF).
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

// Returned by ReadUtf8 for a character of three or four bytes, a byte that
// starts no character, or a character cut off.
inline constexpr uint32_t kBeyondTwoBytes = 0x800;

// The code point of the one- or two-byte UTF-8 character at text[*at],
// moving *at past it; kBeyondTwoBytes (and *at unchanged) otherwise.
inline uint32_t ReadUtf8(std::string_view text, std::size_t* at) {
  const auto b0 = static_cast<unsigned char>(text[*at]);
  if (b0 < 0x80) {
    *at += 1;
    return b0;
  }
  if ((b0 & 0xE0) == 0xC0 && *at + 1 < text.size() &&
      (static_cast<unsigned char>(text[*at + 1]) & 0xC0) == 0x80) {
    const uint32_t cp = ((b0 & 0x1Fu) << 6) | (static_cast<unsigned char>(text[*at + 1]) & 0x3Fu);
    *at += 2;
    return cp;
  }
  return kBeyondTwoBytes;
}

}  // namespace hostprobe
