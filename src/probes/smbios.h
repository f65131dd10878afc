// Reading the system manufacturer and product name out of a raw SMBIOS table
// (the structure table as firmware hands it out). Bounds-checked throughout:
// a truncated or malformed table gives empty texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The identity strings that name a machine's maker, as the DMI files of
// Linux show them, and the firmware's own word on virtualization.
struct SmbiosIdentity {
  std::string bios_vendor;      // type 0
  std::string sys_vendor;       // type 1 manufacturer
  std::string product_name;     // type 1
  std::string product_version;  // type 1
  std::string board_vendor;     // type 2 manufacturer
  // BIOS characteristics extension byte 2, bit 4: the firmware runs in a
  // virtual machine. Unset when the BIOS structure is too short to say.
  std::optional<bool> virtual_machine;
};

inline SmbiosIdentity ReadSmbiosIdentity(std::span<const uint8_t> table) {
  SmbiosIdentity id;
  bool bios = false, system = false, board = false;
  std::size_t at = 0;
  while (at + 4 <= table.size() && !(bios && system && board)) {
    const uint8_t type = table[at];
    const uint8_t length = table[at + 1];
    if (length < 4 || table.size() - at < length) break;
    const std::size_t strings = at + length;
    if (type == 0 && !bios && length >= 5) {
      bios = true;
      id.bios_vendor = SmbiosString(table, strings, table[at + 4]);
      if (length >= 0x14) id.virtual_machine = (table[at + 0x13] & 0x10) != 0;
    } else if (type == 1 && !system && length >= 7) {
      system = true;
      id.sys_vendor = SmbiosString(table, strings, table[at + 4]);
      id.product_name = SmbiosString(table, strings, table[at + 5]);
      id.product_version = SmbiosString(table, strings, table[at + 6]);
    } else if (type == 2 && !board && length >= 5) {
      board = true;
      id.board_vendor = SmbiosString(table, strings, table[at + 4]);
    }
    if (type == 127) break;  // end of table
    std::size_t end = strings;
    while (end + 1 < table.size() && !(table[end] == 0 && table[end + 1] == 0)) ++end;
    at = end + 2;
  }
  return id;
}

}  // namespace hostprobe::probes
