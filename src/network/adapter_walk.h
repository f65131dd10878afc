// The adapter walk: asks the adapter API for its chain of 640-byte records and
// visits at most C of them along the Next locations, C being the needed length
// over 640 rounded half to even. Shared by the adapter report and the
// reference machine check.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/adapter_api.h"

namespace hostprobe {

// An address entry in held form; texts keep their full 16-byte width.
struct AddressEntry {
  int32_t next = 0;
  std::string ip_address;
  std::string ip_mask;
  int32_t context = 0;
};

// One adapter record in held form: numbers signed 32-bit, texts at their full
// field width (NULs included), the hardware address as its 8 bytes.
struct AdapterRecord {
  int32_t next = 0;
  int32_t combo_index = 0;
  std::string adapter_name;  // 260 bytes
  std::string description;   // 132 bytes
  int32_t address_length = 0;
  std::array<uint8_t, 8> address{};
  int32_t index = 0;
  int32_t type = 0;
  int32_t dhcp_enabled = 0;
  int32_t current_ip_address = 0;
  AddressEntry ip_address_list;
  AddressEntry gateway_list;
  AddressEntry dhcp_server;
  int32_t have_wins = 0;
  AddressEntry primary_wins_server;
  AddressEntry secondary_wins_server;
  int32_t lease_obtained = 0;
  int32_t lease_expires = 0;
};

// Converts the 640 bytes at `p` to the held form.
AdapterRecord ReadAdapterRecord(const uint8_t* p);

// The adapter count for a needed length: length / 640 rounded half to even.
// Throws Error (kOverflow) when it does not fit 16 bits (length >= 20,971,200).
int16_t AdapterCount(uint32_t needed_length);

enum class WalkOutcome {
  kEmpty,   // the platform asked for no bytes
  kFailed,  // the filling call returned a non-zero status
  kWalked,  // records visited until C of them, a Next of 0, or the visitor stopped
};

struct WalkResult {
  WalkOutcome outcome = WalkOutcome::kEmpty;
  int16_t count = 0;    // C; set for kFailed and kWalked
  uint32_t status = 0;  // the filling call's status; set for kFailed
};

// Called with each record and its index from 0; returns false to end the walk.
using AdapterVisitor = std::function<bool(int16_t index, const AdapterRecord& record)>;

// Called once the filling call has succeeded, with C, before any record.
using WalkStart = std::function<void(int16_t count)>;

// Runs the walk. A record that does not lie wholly inside the buffer throws
// Error (kIndexOutOfRange); a chain that loops ends after C records.
WalkResult WalkAdapters(AdapterApi& api, const AdapterVisitor& visit, const WalkStart& start = {});

}  // namespace hostprobe
