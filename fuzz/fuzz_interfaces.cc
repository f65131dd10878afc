// Fuzzes the interface report over arbitrary table buffers. Input: 1 byte
// choosing the filling call's status, then the buffer (its length is the
// needed length).
#include <cstdint>
#include <cstring>
#include <vector>

#include "network/interfaces_report.h"
#include "platform/error.h"

namespace {

class BytesTableApi : public hostprobe::InterfaceTableApi {
 public:
  BytesTableApi(uint32_t status, std::vector<uint8_t> bytes) : status_(status), bytes_(std::move(bytes)) {}
  uint32_t NeededLength() override { return static_cast<uint32_t>(bytes_.size()); }
  uint32_t Fill(std::span<uint8_t> buffer) override {
    if (status_ != 0) return status_;
    std::memcpy(buffer.data(), bytes_.data(), std::min(buffer.size(), bytes_.size()));
    return 0;
  }

 private:
  uint32_t status_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  BytesTableApi api(data[0] == 0xFF ? 5 : 0, std::vector<uint8_t>(data + 1, data + size));
  try {
    hostprobe::GetInterfacesReport(api);
  } catch (const hostprobe::Error&) {
  }
  return 0;
}
