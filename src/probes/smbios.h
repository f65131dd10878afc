// Reading the system manufacturer and product name out of a raw SMBIOS table
// (the structure table as firmware hands it out). Bounds-checked throughout:
// a truncated or malformed table gives empty texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace hostprobe::probes {

struct SmbiosSystem {
  std::string manufacturer;
  std::string product;
};

// The strings numbered `index` (from 1) of the structure whose string set
// starts at `strings`; empty when there is none.
inline std::string SmbiosString(std::span<const uint8_t> table, std::size_t strings, uint8_t index) {
  if (index == 0) return "";
  std::size_t at = strings;
  for (uint8_t n = 1; at < table.size(); ++n) {
    std::size_t end = at;
    while (end < table.size() && table[end] != 0) ++end;
    if (end == table.size()) return "";
    if (end == at) return "";  // the set's closing NUL
    if (n == index) return std::string(reinterpret_cast<const char*>(table.data() + at), end - at);
    at = end + 1;
  }
  return "";
}

// The first type 1 (system information) structure of `table`.
inline SmbiosSystem ReadSmbiosSystem(std::span<const uint8_t> table) {
  std::size_t at = 0;
  while (at + 4 <= table.size()) {
    const uint8_t type = table[at];
    const uint8_t length = table[at + 1];
    if (length < 4 || table.size() - at < length) break;
    const std::size_t strings = at + length;
    if (type == 1 && length >= 6) {
      return {SmbiosString(table, strings, table[at + 4]), SmbiosString(table, strings, table[at + 5])};
    }
    if (type == 127) break;  // end of table
    // The string set ends with two NULs.
    std::size_t end = strings;
    while (end + 1 < table.size() && !(table[end] == 0 && table[end + 1] == 0)) ++end;
    at = end + 2;
  }
  return {};
}

}  // namespace hostprobe::probes
