// The interface table API: the platform's interface table, sorted by index, as
// a 4-byte count followed by 860-byte rows (layout in records.h).
#pragma once

#include <cstdint>
#include <span>

namespace hostprobe {

class InterfaceTableApi {
 public:
  virtual ~InterfaceTableApi() = default;

  // The sizing call: the number of bytes the table needs; 0 means there is
  // nothing to report. The platform's status of this call is not reported.
  virtual uint32_t NeededLength() = 0;

  // The filling call: fills `buffer` with the sorted table and returns 0, or
  // returns the platform's non-zero status.
  virtual uint32_t Fill(std::span<uint8_t> buffer) = 0;
};

}  // namespace hostprobe
