// The Linux probes that read sysfs, with the machine given, so that tests can
// run them over a fake tree. The routines of probes.h call them with the live
// machine.
#pragma once

#include <cstdint>

#include "platform/linux/root/linux_root.h"

namespace hostprobe::probes {

// IsInsideVPC: a Microsoft hypervisor's guest (CPUID vendor "Microsoft Hv",
// not its root partition), or DMI "Microsoft Corporation" / "Virtual Machine".
int16_t InsideVpcUnder(const LinuxRoot& root);

// IsInsideVMWare3: a PCI device of vendor 0x15AD, or a network link with a
// device behind it (sys/class/net/X/device) and a VMware guest's address.
// Links without a device (bridges, taps, the vmnet adapters of a VMware
// host) are left out.
int16_t VmwareHardwareUnder(const LinuxRoot& root);

}  // namespace hostprobe::probes
