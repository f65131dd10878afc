// CPUID facts shared by the probes on every OS. All answer false/empty on
// CPUs without CPUID or off x86.
#pragma once

#include <string>

namespace hostprobe::probes {

// Leaf 1, ECX bit 31: a hypervisor says it is present.
bool HypervisorPresent();
// The 12-character vendor of hypervisor leaf 0x40000000 ("VMwareVMware",
// "Microsoft Hv", "KVMKVMKVM", "TCGTCGTCGTCG", ...), empty when none.
std::string HypervisorVendor();
// The 12-character CPU vendor of leaf 0 ("GenuineIntel", "BochsCPU"...).
std::string CpuVendor();
// The processor brand string of leaves 0x80000002..4, trimmed.
std::string CpuBrand();

// CPUID or the firmware names an emulator's CPU (TCG, Bochs, a QEMU
// virtual CPU): the machine is fully emulated.
bool FullyEmulatedCpu();

// True when a text names VMware, ignoring case.
bool NamesVmware(const std::string& text);

}  // namespace hostprobe::probes
