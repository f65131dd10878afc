#include "vmdetect/reference_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "network/adapter_walk.h"
#include "vmdetect/vm_report.h"

namespace hostprobe {
namespace {

constexpr std::array<uint8_t, 6> kReferenceAddress = {0x00, 0x0C, 0x29, 0xED, 0xBF, 0x1C};
constexpr std::string_view kReferenceDescription = "VMware PCI Ethernet Adapter";
constexpr std::string_view kReferenceIpAddress = "192.168.75.128";

// In this order, stopping at the first mismatch: the address length, the six
// address bytes, the whole description field, the whole first IP address field.
bool IsReferenceAdapter(const AdapterRecord& r) {
  if (r.address_length != 6) return false;
  if (!std::equal(kReferenceAddress.begin(), kReferenceAddress.end(), r.address.begin())) return false;
  if (r.description.find(kReferenceDescription) == std::string::npos) return false;
  return r.ip_address_list.ip_address.find(kReferenceIpAddress) != std::string::npos;
}

}  // namespace

bool IsReferenceAdapterPresent(AdapterApi& api) {
  bool found = false;
  WalkAdapters(api, [&](int16_t, const AdapterRecord& r) {
    found = IsReferenceAdapter(r);
    return !found;
  });
  return found;
}

bool IsReferenceVm(AdapterApi& api, ProbeLibrary& probes) {
  const bool adapter = IsReferenceAdapterPresent(api);
  const bool vm = IsVirtualMachine(probes);
  return adapter && vm;
}

}  // namespace hostprobe
