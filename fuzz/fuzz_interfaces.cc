// Fuzzes the interface report over arbitrary table buffers. Input: 1 byte
// choosing the filling call's status, then the buffer (its length is the
// needed length).
#include <cstdint>
#include <vector>

#include "bytes_sources.h"
#include "network/interfaces_report.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  hostprobe::testing::BytesTableApi api(std::vector<uint8_t>(data + 1, data + size), data[0] == 0xFF ? 5 : 0);
  try {
    hostprobe::GetInterfacesReport(api);
  } catch (const hostprobe::Error&) {
  }
  return 0;
}
