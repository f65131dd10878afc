// Telling a VMware guest's network adapter from a VMware host's by its
// hardware address. Shared by the probes of every OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/hex_digit.h"

namespace hostprobe::probes {

// True for an address VMware gives a guest's adapter: the prefixes 00:0C:29,
// 00:50:56, 00:05:69 and 00:1C:14. Left out is 00:50:56:C0:00:xx, which
// VMware Workstation and Player give the host's own virtual adapters
// (vmnet1, vmnet8): those sit on the host, not in a guest.
inline bool VmwareGuestMac(std::span<const uint8_t> mac) {
  static const uint8_t kPrefixes[][3] = {
      {0x00, 0x0C, 0x29}, {0x00, 0x50, 0x56}, {0x00, 0x05, 0x69}, {0x00, 0x1C, 0x14}};
  if (mac.size() < 6) return false;
  if (mac[0] == 0x00 && mac[1] == 0x50 && mac[2] == 0x56 && mac[3] == 0xC0 && mac[4] == 0x00) {
    return false;
  }
  for (const auto& p : kPrefixes) {
    if (mac[0] == p[0] && mac[1] == p[1] && mac[2] == p[2]) return true;
  }
  return false;
}

// True when any address of the list is a VMware guest's.
inline bool AnyVmwareGuestMac(const std::vector<std::vector<uint8_t>>& macs) {
  for (const auto& mac : macs) {
    if (VmwareGuestMac(mac)) return true;
  }
  return false;
}

// The bytes of a sysfs address text ("00:50:56:c0:00:08"); nullopt when the
// text is not hex pairs joined by ':'.
inline std::optional<std::vector<uint8_t>> ParseMacText(const std::string& text) {
  std::vector<uint8_t> out;
  const auto hex = HexDigitValue;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    if (i + 2 > text.size()) return std::nullopt;
    const int hi = hex(text[i]), lo = hex(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    // A pair is followed by the end or by ':' and another pair.
    if (i + 2 < text.size() && (text[i + 2] != ':' || i + 3 == text.size())) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace hostprobe::probes
