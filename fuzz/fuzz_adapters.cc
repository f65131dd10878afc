// Fuzzes the adapter walk and report, and the reference check, over arbitrary
// buffers. Input: 4 bytes of buffer location, 1 byte choosing the filling
// call's status, then the buffer itself (its length is the needed length).
#include <cstdint>
#include <cstring>
#include <vector>

#include "network/adapters_report.h"
#include "platform/error.h"
#include "platform/records.h"
#include "vmdetect/reference_check.h"

namespace {

class BytesAdapterApi : public hostprobe::AdapterApi {
 public:
  BytesAdapterApi(uint32_t location, uint32_t status, std::vector<uint8_t> bytes)
      : location_(location), status_(status), bytes_(std::move(bytes)) {}
  uint32_t NeededLength() override { return static_cast<uint32_t>(bytes_.size()); }
  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    if (status_ != 0) return status_;
    std::memcpy(buffer.data(), bytes_.data(), std::min(buffer.size(), bytes_.size()));
    *location = location_;
    return 0;
  }

 private:
  uint32_t location_, status_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const uint32_t location = hostprobe::records::GetU32(data);
  const uint32_t status = data[4] == 0xFF ? 111 : 0;
  BytesAdapterApi api(location, status, std::vector<uint8_t>(data + 5, data + size));
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
