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

std::unique_ptr<AdapterApi> MakeAdapterApi() {
  return repack::MakeRepackingAdapterApi([](uint8_t* buffer, uint32_t* length) -> uint32_t {
    ULONG n = *length;
    IP_ADAPTER_INFO probe;
    const ULONG status = GetAdaptersInfo(buffer ? reinterpret_cast<IP_ADAPTER_INFO*>(buffer) : &probe, &n);
    *length = n;
    return status;
  });
}

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

std::unique_ptr<AdapterApi> MakeAdapterApi() { return std::make_unique<AdapterApiWindows>(); }
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

std::unique_ptr<AdapterApi> MakeWindowsAdapterApi() { return MakeAdapterApi(); }

std::unique_ptr<InterfaceTableApi> MakeWindowsInterfaceTableApi() {
  return std::make_unique<InterfaceTableApiWindows>();
}

}  // namespace hostprobe
