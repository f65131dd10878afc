// Network APIs that serve fixed bytes: for chains and tables a snapshot cannot
// express (tests), arbitrary buffers (fuzzing) and prebuilt large ones
// (benchmarks). The needed length is the number of bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "platform/adapter_api.h"
#include "platform/interface_table_api.h"

namespace hostprobe::testing {

class BytesAdapterApi : public AdapterApi {
 public:
  // `location` is what the records' Next fields use for buffer index 0; a
  // non-zero `status` is what the filling call returns instead of filling.
  BytesAdapterApi(std::vector<uint8_t> bytes, uint32_t location, uint32_t status = 0)
      : bytes_(std::move(bytes)), location_(location), status_(status) {}
  uint32_t NeededLength() override { return static_cast<uint32_t>(bytes_.size()); }
  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    if (status_ != 0) return status_;
    std::memcpy(buffer.data(), bytes_.data(), std::min(buffer.size(), bytes_.size()));
    *location = location_;
    return 0;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t location_;
  uint32_t status_;
};

class BytesTableApi : public InterfaceTableApi {
 public:
  explicit BytesTableApi(std::vector<uint8_t> bytes, uint32_t status = 0)
      : bytes_(std::move(bytes)), status_(status) {}
  uint32_t NeededLength() override { return static_cast<uint32_t>(bytes_.size()); }
  uint32_t Fill(std::span<uint8_t> buffer) override {
    if (status_ != 0) return status_;
    std::memcpy(buffer.data(), bytes_.data(), std::min(buffer.size(), bytes_.size()));
    return 0;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t status_;
};

}  // namespace hostprobe::testing
