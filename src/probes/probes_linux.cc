// The probes on Linux: CPUID, DMI and PCI facts from sysfs, and the VMware
// backdoor asked in a child process, which the fault it raises outside
// VMware ends. No root needed.
// A host is never a guest: Hyper-V's root partition and a VMware host's own
// virtual adapters answer 0.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

#if defined(__x86_64__) || defined(__i386__)
// The exit codes of the backdoor's child: the version follows in its pipe,
// or the port access faulted.
constexpr int kAnswered = 0;
constexpr int kFaulted = 3;

void OnFault(int) { _exit(kFaulted); }
#endif

// The backdoor's GETVERSION: the version in EAX when EBX echoes the magic.
// Outside VMware the port access faults. It is asked in a short-lived child
// process, so that the fault and the handlers that catch it never touch this
// process: its own handlers and other threads (the window's) stay as they
// are. Between fork and _exit the child calls async-signal-safe functions
// only. Any failure (no child, no pipe, a fault, a short answer) answers 0.
int16_t BackdoorVersion() {
#if defined(__x86_64__) || defined(__i386__)
  int answer[2];
  if (pipe2(answer, O_CLOEXEC) != 0) return 0;
  const pid_t child = fork();
  if (child == 0) {
    close(answer[0]);
    struct sigaction action {};
    action.sa_handler = OnFault;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, nullptr);
    sigaction(SIGBUS, &action, nullptr);
    sigaction(SIGILL, &action, nullptr);
    uint32_t a = 0x564D5868, b = 0, c = 10, d = 0x5658;
    asm volatile("inl %%dx, %%eax" : "+a"(a), "+b"(b), "+c"(c), "+d"(d) : : "memory");
    const int16_t version = b == 0x564D5868 ? static_cast<int16_t>(a) : 0;
    const ssize_t written = write(answer[1], &version, sizeof version);
    _exit(written == sizeof version ? kAnswered : kFaulted);
  }
  close(answer[1]);
  int16_t version = 0;
  if (child > 0) {
    ssize_t n;
    do {
      n = read(answer[0], &version, sizeof version);
    } while (n < 0 && errno == EINTR);
    if (n != sizeof version) version = 0;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != kAnswered) version = 0;
  }
  close(answer[0]);
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
