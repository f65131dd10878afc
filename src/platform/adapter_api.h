// The adapter API: the platform's list of network adapters as a chain of
// 640-byte records (layout in records.h) in one caller-owned buffer.
#pragma once

#include <cstdint>
#include <span>

namespace hostprobe {

class AdapterApi {
 public:
  virtual ~AdapterApi() = default;

  // The sizing call: the number of bytes the whole chain needs; 0 means there
  // is nothing to list. The platform's status of this call is not reported.
  virtual uint32_t NeededLength() = 0;

  // The filling call: fills `buffer` (of the length NeededLength gave) with the
  // chain and returns 0, or returns the platform's non-zero status. On success
  // `*location` is the 32-bit location that the records' Next fields use for
  // buffer index 0, so a Next of v leads to buffer index v - *location; a Next
  // of 0 ends the chain.
  virtual uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) = 0;
};

}  // namespace hostprobe
