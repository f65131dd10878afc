// Adapters and the interface table from the IP Helper API.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstddef>
#include <vector>

#include "platform/records.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

static_assert(sizeof(MIB_IFROW) == records::kRowSize);
static_assert(offsetof(MIB_IFROW, dwType) == records::kRowType);
static_assert(offsetof(MIB_IFROW, bDescr) == records::kRowDescr);
static_assert(offsetof(MIB_IFTABLE, table) == records::kTableRows);

#if defined(_WIN64)
static_assert(sizeof(IP_ADAPTER_INFO) == repack::kNativeAdapterSize);
static_assert(sizeof(IP_ADDR_STRING) == repack::kNativeAddrSize);
static_assert(offsetof(IP_ADAPTER_INFO, CurrentIpAddress) == 432);
static_assert(offsetof(IP_ADAPTER_INFO, HaveWins) == 584);
static_assert(offsetof(IP_ADAPTER_INFO, LeaseExpires) == 696);

// GetAdaptersInfo gives 704-byte records here: the sizing call fetches the
// chain once to learn the length of its 640-byte form, and the filling call
// fetches it again and repacks it.
class AdapterApiWindows : public AdapterApi {
 public:
  uint32_t NeededLength() override {
    ULONG length = 0;
    IP_ADAPTER_INFO probe;
    GetAdaptersInfo(&probe, &length);
    native_length_ = length;
    if (length == 0) return 0;
    // The chain may grow between two calls: fetch until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::vector<uint8_t> native(length);
      const ULONG status = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(native.data()), &length);
      if (status == ERROR_SUCCESS) {
        native_length_ = static_cast<ULONG>(native.size());
        return repack::PackedLength(native, reinterpret_cast<uintptr_t>(native.data()));
      }
      if (status != ERROR_BUFFER_OVERFLOW) break;
    }
    // Not fetchable now: the filling call will report the platform's status.
    return native_length_;
  }

  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    ULONG length = native_length_;
    std::vector<uint8_t> native(length);
    const ULONG status = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(native.data()), &length);
    if (status != ERROR_SUCCESS) return status;
    uint32_t at = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer.data()));
    if (at == 0 || uint64_t{at} + buffer.size() > 0xFFFFFFFFu) at = 0x10000;
    if (!repack::Repack(native, reinterpret_cast<uintptr_t>(native.data()), buffer, at)) {
      return ERROR_BUFFER_OVERFLOW;  // what the platform says of a buffer too small
    }
    *location = at;
    return 0;
  }

 private:
  ULONG native_length_ = 0;
};

#else
static_assert(sizeof(IP_ADAPTER_INFO) == records::kAdapterSize);
static_assert(sizeof(IP_ADDR_STRING) == records::kAddrSize);
static_assert(offsetof(IP_ADAPTER_INFO, CurrentIpAddress) == records::kAdCurrentIpAddress);
static_assert(offsetof(IP_ADAPTER_INFO, IpAddressList) == records::kAdIpAddressList);
static_assert(offsetof(IP_ADAPTER_INFO, SecondaryWinsServer) == records::kAdSecondaryWinsServer);
static_assert(offsetof(IP_ADAPTER_INFO, LeaseExpires) == records::kAdLeaseExpires);

// A 32-bit process gets the 640-byte records as they are.
class AdapterApiWindows : public AdapterApi {
 public:
  uint32_t NeededLength() override {
    ULONG length = 0;
    IP_ADAPTER_INFO record;
    GetAdaptersInfo(&record, &length);
    return length;
  }

  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    ULONG length = static_cast<ULONG>(buffer.size());
    const ULONG status = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &length);
    if (status == ERROR_SUCCESS) *location = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer.data()));
    return status;
  }
};
#endif

class InterfaceTableApiWindows : public InterfaceTableApi {
 public:
  uint32_t NeededLength() override {
    ULONG length = 0;
    GetIfTable(nullptr, &length, TRUE);
    return length;
  }

  uint32_t Fill(std::span<uint8_t> buffer) override {
    ULONG length = static_cast<ULONG>(buffer.size());
    return GetIfTable(reinterpret_cast<MIB_IFTABLE*>(buffer.data()), &length, TRUE);
  }
};

}  // namespace

std::unique_ptr<AdapterApi> MakeWindowsAdapterApi() { return std::make_unique<AdapterApiWindows>(); }

std::unique_ptr<InterfaceTableApi> MakeWindowsInterfaceTableApi() {
  return std::make_unique<InterfaceTableApiWindows>();
}

}  // namespace hostprobe
