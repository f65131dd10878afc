// Virtualization facts on Windows: CPUID and the firmware's SMBIOS table.
// Windows has no container marker that a program inside sees plainly, so
// the container is "none".
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/live/live.h"
#include "probes/cpuid.h"
#include "probes/smbios.h"

namespace hostprobe {
namespace {

probes::SmbiosIdentity FirmwareIdentity() {
  const DWORD signature = 0x52534D42;  // 'RSMB'
  const UINT size = GetSystemFirmwareTable(signature, 0, nullptr, 0);
  if (size < 8) return {};
  std::vector<uint8_t> raw(size);
  if (GetSystemFirmwareTable(signature, 0, raw.data(), size) != size) return {};
  // RawSMBIOSData: four version bytes, the 32-bit table length, the table.
  const uint32_t length = raw[4] | (raw[5] << 8) | (raw[6] << 16) | (static_cast<uint32_t>(raw[7]) << 24);
  const std::size_t avail = std::min<std::size_t>(length, size - 8);
  return probes::ReadSmbiosIdentity(std::span<const uint8_t>(raw.data() + 8, avail));
}

}  // namespace

VmFacts ReadVmFacts() {
  VmFacts f;
  f.hypervisor_bit = probes::HypervisorPresent();
  f.cpuid_vendor = probes::HypervisorVendor();
  f.hyperv_root = probes::HyperVRootPartition();
  const probes::SmbiosIdentity id = FirmwareIdentity();
  f.product_name = id.product_name;
  f.sys_vendor = id.sys_vendor;
  f.board_vendor = id.board_vendor;
  f.bios_vendor = id.bios_vendor;
  f.product_version = id.product_version;
  f.smbios_vm_bit = id.virtual_machine;
  return f;
}

// Containers on Windows are not told apart: none.
ContainerFacts ReadContainerFacts() { return {}; }

}  // namespace hostprobe
