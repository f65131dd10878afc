// Text helpers shared by the network reports: hardware addresses and
// NUL-terminated fixed-width fields.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace hostprobe {

// The first six bytes of an 8-byte hardware address as upper-case hex pairs
// joined by "-", e.g. "00-1A-2B-3C-4D-5E". Bytes 6 and 7 are never shown.
std::string MacToText(std::span<const uint8_t, 8> address);

// The part of `text` before its first NUL. Throws Error (kInvalidArgument)
// when `text` holds no NUL at all.
std::string CutAtNul(std::string text);

}  // namespace hostprobe
