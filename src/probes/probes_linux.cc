// The probes on Linux: CPUID, DMI and PCI facts from sysfs, and the VMware
// backdoor guarded against the fault it raises outside VMware. No root needed.
// A host is never a guest: Hyper-V's root partition and a VMware host's own
// virtual adapters answer 0.
#include <setjmp.h>
#include <signal.h>

#include <cstdint>
#include <string>

#include "platform/linux/root/linux_root.h"
#include "probes/cpuid.h"
#include "probes/probes.h"
#include "probes/probes_linux.h"
#include "probes/vmware_mac.h"

namespace {

using namespace hostprobe::probes;
using hostprobe::LinuxRoot;

std::string DmiField(const LinuxRoot& root, const char* name) {
  return root.FirstLine(std::string("/sys/class/dmi/id/") + name);
}

std::string DmiField(const char* name) { return DmiField(LinuxRoot::Live(), name); }

bool VmwarePciDevice(const LinuxRoot& root) {
  const std::string dir = "/sys/bus/pci/devices/";
  for (const std::string& device : root.List(dir)) {
    if (root.FirstLine(dir + device + "/vendor") == "0x15ad") return true;
  }
  return false;
}

// Only links with a device behind them: a VMware host's vmnet adapters,
// bridges and taps carry VMware addresses too, but no device.
bool VmwareMacAddress(const LinuxRoot& root) {
  const std::string dir = "/sys/class/net/";
  for (const std::string& link : root.List(dir)) {
    if (!root.Exists(dir + link + "/device")) continue;
    const auto mac = ParseMacText(root.FirstLine(dir + link + "/address"));
    if (mac && VmwareGuestMac(*mac)) return true;
  }
  return false;
}

sigjmp_buf g_fault_jump;

void OnFault(int) { siglongjmp(g_fault_jump, 1); }

// The backdoor's GETVERSION: the version in EAX when EBX echoes the magic.
// Outside VMware the port access faults; the fault is caught and answers 0.
int16_t BackdoorVersion() {
#if defined(__x86_64__) || defined(__i386__)
  struct sigaction action {}, old_segv {}, old_bus {}, old_ill {};
  action.sa_handler = OnFault;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &old_segv);
  sigaction(SIGBUS, &action, &old_bus);
  sigaction(SIGILL, &action, &old_ill);
  volatile int16_t version = 0;
  if (sigsetjmp(g_fault_jump, 1) == 0) {
    uint32_t a = 0x564D5868, b = 0, c = 10, d = 0x5658;
    asm volatile("inl %%dx, %%eax" : "+a"(a), "+b"(b), "+c"(c), "+d"(d) : : "memory");
    if (b == 0x564D5868) version = static_cast<int16_t>(a);
  }
  sigaction(SIGSEGV, &old_segv, nullptr);
  sigaction(SIGBUS, &old_bus, nullptr);
  sigaction(SIGILL, &old_ill, nullptr);
  return version;
#else
  return 0;
#endif
}

bool DmiNamesVmware() {
  return NamesVmware(DmiField("sys_vendor")) || NamesVmware(DmiField("product_name"));
}

}  // namespace

namespace hostprobe::probes {

int16_t InsideVpcUnder(const LinuxRoot& root) {
  if (HypervisorVendor() == "Microsoft Hv" && !HyperVRootPartition()) return 1;
  return DmiField(root, "sys_vendor") == "Microsoft Corporation" &&
         DmiField(root, "product_name") == "Virtual Machine";
}

int16_t VmwareHardwareUnder(const LinuxRoot& root) {
  return VmwarePciDevice(root) || VmwareMacAddress(root);
}

}  // namespace hostprobe::probes

extern "C" {

int16_t IsInsideVPC(void) { return InsideVpcUnder(hostprobe::LinuxRoot::Live()); }

int16_t IsInsideVMWare(void) { return HypervisorVendor() == "VMwareVMware"; }

int16_t IsInsideVMWare2(void) { return DmiNamesVmware(); }

int16_t IsInsideVMWare3(void) { return VmwareHardwareUnder(hostprobe::LinuxRoot::Live()); }

int16_t ldtCheck(void) { return HypervisorGuest(); }

int16_t mswCheck(void) { return FullyEmulatedCpu(); }

int16_t vmwareCheck(void) {
  if (HypervisorVendor() != "VMwareVMware" && !DmiNamesVmware()) return 0;
  return BackdoorVersion();
}

}  // extern "C"
