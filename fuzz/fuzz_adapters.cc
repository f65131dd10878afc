// Fuzzes the adapter walk and report, and the reference check, over arbitrary
// buffers. Input: 4 bytes of buffer location, 1 byte choosing the filling
// call's status, then the buffer itself (its length is the needed length).
#include <cstdint>
#include <vector>

#include "bytes_sources.h"
#include "network/adapters_report.h"
#include "platform/error.h"
#include "platform/records.h"
#include "vmdetect/reference_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint32_t location = hostprobe::records::GetU32(data);
  const uint32_t status = data[4] == 0xFF ? 111 : 0;
  hostprobe::testing::BytesAdapterApi api(std::vector<uint8_t>(data + 5, data + size), location, status);
  try {
    hostprobe::GetAdaptersReport(api);
  } catch (const hostprobe::Error&) {
  }
  try {
    hostprobe::IsReferenceAdapterPresent(api);
  } catch (const hostprobe::Error&) {
  }
  return 0;
}
