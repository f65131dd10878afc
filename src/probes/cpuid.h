// CPUID facts shared by the probes on every OS. All answer false/empty on
// CPUs without CPUID or off x86.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace hostprobe::probes {

// The four registers one CPUID leaf answers.
struct CpuidRegs {
  uint32_t a = 0, b = 0, c = 0, d = 0;
};

// Asks one leaf (subleaf 0); false where there is no CPUID instruction.
using CpuidQuery = std::function<bool(uint32_t leaf, CpuidRegs* regs)>;

// Puts `query` in place of the processor's CPUID for every fact below, so
// that tests can feed the answers of other machines; an empty function
// restores the processor's. Not for use while probes run on other threads.
void SetCpuidQuery(CpuidQuery query);

// Leaf 1, ECX bit 31: a hypervisor says it is present.
bool HypervisorPresent();
// The 12-character vendor of hypervisor leaf 0x40000000 ("VMwareVMware",
// "Microsoft Hv", "KVMKVMKVM", "TCGTCGTCGTCG", ...), empty when none.
std::string HypervisorVendor();
// Hyper-V's root partition: the vendor is "Microsoft Hv" and leaf 0x40000003
// EBX bit 0 (CreatePartitions) is set, which Hyper-V grants only to the
// partition that hosts the others. This is the host (Windows with Hyper-V,
// memory integrity or Credential Guard; a Linux root partition), not a guest.
bool HyperVRootPartition();
// A hypervisor is present and this machine is its guest, not its root
// partition.
bool HypervisorGuest();
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
