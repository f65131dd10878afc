// Conversion of UTF-8 text to the system's 8-bit code page (the ANSI code page
// on Windows, the locale's character set, in practice UTF-8, on Linux), with
// "?" for characters that have no mapping.
#pragma once

#include <string>
#include <string_view>

namespace hostprobe {

std::string Utf8ToSystem(std::string_view utf8);

// The reverse: system 8-bit text to UTF-8.
std::string SystemToUtf8(std::string_view text);

}  // namespace hostprobe
