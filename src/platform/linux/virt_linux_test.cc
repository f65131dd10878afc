// Naming the hypervisor and the container from fake root directories (their
// sys/, proc/, run/ and top-level files) and substitute CPUID answers, and
// agreeing with systemd-detect-virt on this machine.
#include "platform/linux/virt_linux.h"
#include "app/machine.h"
#include "vmdetect/virt_names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fake_cpuid.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::FakeCpu;
using testing::ScopedCpuid;
using testing::ScratchDir;

// Files below the fake root: path, content; a path ending in "/" is a
// directory.
using Tree = std::vector<std::pair<std::string, std::string>>;

std::string MakeRoot(const std::filesystem::path& at, const Tree& files) {
  std::filesystem::create_directories(at);
  for (const auto& [path, content] : files) {
    const auto file = at / path;
    std::filesystem::create_directories(file.parent_path());
    if (path.back() == '/') {
      std::filesystem::create_directories(file);
    } else {
      testing::WriteFile(file, content);
    }
  }
  return at.string();
}

FakeCpu Hypervisor(const std::string& vendor) { return FakeCpu{}.Hypervisor(vendor); }

const FakeCpu kBareMetal{};
const FakeCpu kHyperVRoot = FakeCpu{}.Hypervisor("Microsoft Hv").PartitionEbx(0x2BFF);

// SMBIOS type 0 as /sys/firmware/dmi/entries/0-0/raw holds it, with the
// virtual machine bit (extension byte 2, bit 4) set or clear.
std::string BiosEntry(bool vm) {
  std::string raw(20, '\0');
  raw[1] = 20;
  raw[19] = vm ? 0x10 : 0x00;
  return raw;
}

struct Case {
  const char* name;
  FakeCpu cpu;
  Tree files;
  const char* hypervisor;
};

TEST(VirtLinuxTest, HypervisorNames) {
  const Case cases[] = {
      // Hosts.
      {"bare metal", kBareMetal, {{"proc/cpuinfo", "vendor_id\t: GenuineIntel\n"}}, "none"},
      {"Hyper-V root partition", kHyperVRoot, {{"sys/class/dmi/id/sys_vendor", "Dell Inc.\n"}}, "none"},
      {"Xen dom0 by its features", Hypervisor("XenVMMXenVMM"),
       {{"proc/xen/", ""}, {"sys/hypervisor/type", "xen\n"}, {"sys/hypervisor/properties/features", "00002fff\n"}},
       "none"},
      {"Xen dom0 by its capabilities", kBareMetal,
       {{"proc/xen/capabilities", "control_d\n"}, {"sys/hypervisor/type", "xen\n"}}, "none"},
      {"Xen dom0 nested in KVM", Hypervisor("KVMKVMKVM"), {{"proc/xen/capabilities", "control_d\n"}}, "kvm"},
      {"Amazon bare-metal instance by the firmware bit", kBareMetal,
       {{"sys/class/dmi/id/sys_vendor", "Amazon EC2\n"}, {"sys/class/dmi/id/product_name", "m5.24xlarge\n"},
        {"sys/firmware/dmi/entries/0-0/raw", BiosEntry(false)}},
       "none"},
      {"Amazon bare-metal instance by its name", kBareMetal,
       {{"sys/class/dmi/id/sys_vendor", "Amazon EC2\n"}, {"sys/class/dmi/id/product_name", "c6g.metal-48xl\n"}},
       "none"},
      // CPUID vendors.
      {"KVM", Hypervisor("KVMKVMKVM"), {}, "kvm"},
      {"KVM with Hyper-V interfaces", Hypervisor("Linux KVM Hv"), {}, "kvm"},
      {"QEMU without KVM", Hypervisor("TCGTCGTCGTCG"), {}, "qemu"},
      {"VMware", Hypervisor("VMwareVMware"), {}, "vmware"},
      {"Hyper-V guest", Hypervisor("Microsoft Hv"), {}, "microsoft"},
      {"Xen HVM", Hypervisor("XenVMMXenVMM"), {}, "xen"},
      {"bhyve", Hypervisor("bhyve bhyve "), {}, "bhyve"},
      {"QNX", Hypervisor("QNXQVMBSQG"), {}, "qnx"},
      {"ACRN", Hypervisor("ACRNACRNACRN"), {}, "acrn"},
      {"SRE", Hypervisor("SRESRESRESRE"), {}, "sre"},
      {"Apple", Hypervisor("Apple VZ"), {}, "apple"},
      {"unknown vendor", Hypervisor("NoSuchVMM"), {}, "vm-other"},
      // DMI.
      {"DMI KVM product", kBareMetal, {{"sys/class/dmi/id/product_name", "KVM\n"}}, "kvm"},
      {"DMI OpenStack", kBareMetal, {{"sys/class/dmi/id/product_name", "OpenStack Nova\n"}}, "kvm"},
      {"DMI KubeVirt", kBareMetal, {{"sys/class/dmi/id/product_name", "KubeVirt\n"}}, "kvm"},
      {"DMI QEMU", kBareMetal, {{"sys/class/dmi/id/sys_vendor", "QEMU\n"}}, "qemu"},
      {"DMI VMware", kBareMetal, {{"sys/class/dmi/id/sys_vendor", "VMware, Inc.\n"}}, "vmware"},
      {"DMI VMW", kBareMetal, {{"sys/class/dmi/id/product_name", "VMW-7\n"}}, "vmware"},
      {"DMI Hyper-V product version", kBareMetal, {{"sys/class/dmi/id/product_version", "Hyper-V UEFI Release v4.1\n"}},
       "microsoft"},
      {"DMI Bochs", kBareMetal, {{"sys/class/dmi/id/bios_vendor", "Bochs\n"}}, "bochs"},
      {"DMI BHYVE", kBareMetal, {{"sys/class/dmi/id/sys_vendor", "BHYVE\n"}}, "bhyve"},
      {"DMI Apple", kBareMetal, {{"sys/class/dmi/id/sys_vendor", "Apple Virtualization\n"}}, "apple"},
      {"firmware VM bit alone", kBareMetal, {{"sys/firmware/dmi/entries/0-0/raw", BiosEntry(true)}}, "vm-other"},
      // Firmware ahead of CPUID.
      {"VirtualBox on KVM", Hypervisor("KVMKVMKVM"), {{"sys/class/dmi/id/product_name", "VirtualBox\n"}}, "oracle"},
      {"VirtualBox by innotek", Hypervisor("KVMKVMKVM"), {{"sys/class/dmi/id/sys_vendor", "innotek GmbH\n"}},
       "oracle"},
      {"VirtualBox board", kBareMetal, {{"sys/class/dmi/id/board_vendor", "Oracle Corporation\n"}}, "oracle"},
      {"Parallels on its own engine", Hypervisor("KVMKVMKVM"), {{"sys/class/dmi/id/sys_vendor", "Parallels Software\n"}},
       "parallels"},
      {"Amazon EC2 instance", Hypervisor("KVMKVMKVM"),
       {{"sys/class/dmi/id/sys_vendor", "Amazon EC2\n"}, {"sys/class/dmi/id/product_name", "m5.large\n"}}, "amazon"},
      {"Amazon with the firmware bit", kBareMetal,
       {{"sys/class/dmi/id/sys_vendor", "Amazon EC2\n"}, {"sys/firmware/dmi/entries/0-0/raw", BiosEntry(true)}},
       "amazon"},
      {"Google Compute Engine", Hypervisor("KVMKVMKVM"),
       {{"sys/class/dmi/id/product_name", "Google Compute Engine\n"}}, "google"},
      {"Xen posing as Hyper-V", Hypervisor("Microsoft Hv"), {{"sys/class/dmi/id/sys_vendor", "Xen\n"}}, "xen"},
      {"QEMU with Hyper-V interfaces", Hypervisor("Microsoft Hv"), {{"sys/class/dmi/id/sys_vendor", "QEMU\n"}},
       "qemu"},
      {"KVM product ahead of QEMU vendor", kBareMetal,
       {{"sys/class/dmi/id/sys_vendor", "QEMU\n"}, {"sys/class/dmi/id/product_name", "KVM\n"}}, "kvm"},
      // Other files.
      {"user-mode Linux", Hypervisor("KVMKVMKVM"), {{"proc/cpuinfo", "processor\t: 0\nvendor_id\t: User Mode Linux\n"}},
       "uml"},
      {"Xen PV guest", kBareMetal, {{"proc/xen/", ""}}, "xen"},
      {"Xen guest by capabilities", kBareMetal, {{"proc/xen/capabilities", "\n"}}, "xen"},
      {"hypervisor type xen", kBareMetal, {{"sys/hypervisor/type", "xen\n"}}, "xen"},
      {"hypervisor type other", kBareMetal, {{"sys/hypervisor/type", "s390\n"}}, "vm-other"},
      {"device tree KVM", kBareMetal, {{"proc/device-tree/hypervisor/compatible", std::string("linux,kvm\0", 10)}},
       "kvm"},
      {"device tree Xen", kBareMetal,
       {{"proc/device-tree/hypervisor/compatible", std::string("xen,xen-4.17\0xen,xen\0", 22)}}, "xen"},
      {"device tree VMware", kBareMetal, {{"proc/device-tree/hypervisor/compatible", "vmware\n"}}, "vmware"},
      {"device tree other", kBareMetal, {{"proc/device-tree/hypervisor/compatible", "acme,hv\n"}}, "vm-other"},
      {"PowerVM", kBareMetal,
       {{"proc/device-tree/ibm,partition-name", "lpar1"}, {"proc/device-tree/hmc-managed?", ""}}, "powervm"},
      {"QEMU pseries is not PowerVM", kBareMetal,
       {{"proc/device-tree/ibm,partition-name", "lpar1"},
        {"proc/device-tree/hmc-managed?", ""},
        {"proc/device-tree/chosen/qemu,graphic-width", ""},
        {"proc/device-tree/compatible", std::string("qemu,pseries\0", 13)}},
       "qemu"},
      {"device tree fw-cfg", kBareMetal, {{"proc/device-tree/fw-cfg@9020000/", ""}}, "qemu"},
      {"z/VM", kBareMetal, {{"proc/sysinfo", "VM00 Name:            LINUX1\nVM00 Control Program: z/VM    7.2.0\n"}},
       "zvm"},
      {"KVM on s390", kBareMetal, {{"proc/sysinfo", "VM00 Control Program: KVM/Linux\n"}}, "kvm"},
  };
  ScratchDir dir;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const LinuxRoot root(MakeRoot(dir.path() / std::to_string(n++), c.files));
    ScopedCpuid cpuid(c.cpu);
    EXPECT_EQ(NameVirt(ReadVmFactsUnder(root), ReadContainerFactsUnder(root)).hypervisor, c.hypervisor);
  }
}

TEST(VirtLinuxTest, ContainerNames) {
  const struct {
    const char* name;
    Tree files;
    const char* container;
  } cases[] = {
      {"none", {{"proc/sys/kernel/osrelease", "6.1.0-13-amd64\n"}, {"proc/self/status", "TracerPid:\t0\n"}}, "none"},
      {"OpenVZ container", {{"proc/vz/", ""}}, "openvz"},
      {"OpenVZ host", {{"proc/vz/", ""}, {"proc/bc/", ""}}, "none"},
      {"WSL 2", {{"proc/sys/kernel/osrelease", "5.15.133.1-microsoft-standard-WSL2\n"}}, "wsl"},
      {"WSL 1", {{"proc/sys/kernel/osrelease", "4.4.0-19041-Microsoft\n"}}, "wsl"},
      {"proot", {{"proc/self/status", "Name:\thostprobe\nTracerPid:\t4242\n"}, {"proc/4242/comm", "proot\n"}}, "proot"},
      {"traced by a debugger", {{"proc/self/status", "TracerPid:\t4242\n"}, {"proc/4242/comm", "gdb\n"}}, "none"},
      {"container manager file", {{"run/host/container-manager", "systemd-nspawn\n"}}, "systemd-nspawn"},
      {"systemd's container file", {{"run/systemd/container", "lxc\n"}, {".dockerenv", ""}}, "lxc"},
      {"PID 1 environment lxc-libvirt",
       {{"proc/1/environ", std::string("HOME=/\0container=lxc-libvirt\0TERM=linux\0", 41)}}, "lxc-libvirt"},
      {"PID 1 environment podman", {{"proc/1/environ", std::string("container=podman\0", 17)}}, "podman"},
      {"PID 1 environment unknown manager", {{"proc/1/environ", std::string("container=acme\0", 15)}},
       "container-other"},
      {"PID 1 environment oci with docker's file",
       {{"proc/1/environ", std::string("container=oci\0", 14)}, {".dockerenv", ""}}, "docker"},
      {"PID 1 environment oci alone", {{"proc/1/environ", std::string("container=oci\0", 14)}}, "container-other"},
      {"PID 1 environment rkt", {{"proc/1/environ", std::string("container=rkt\0", 14)}}, "rkt"},
      {"PID 1 environment pouch", {{"proc/1/environ", std::string("container=pouch\0", 16)}}, "pouch"},
      {"PID 1 environment without container", {{"proc/1/environ", std::string("HOME=/\0", 7)}}, "none"},
      {"podman's file", {{"run/.containerenv", ""}}, "podman"},
      {"podman's file ahead of docker's", {{"run/.containerenv", ""}, {".dockerenv", ""}}, "podman"},
      {"docker's file", {{".dockerenv", ""}}, "docker"},
      {"cgroup namespace, unified hierarchy",
       {{"proc/self/ns/cgroup", ""},
        {"sys/fs/cgroup/cgroup.controllers", ""},
        {"sys/fs/cgroup/cgroup.events", ""},
        {"sys/fs/cgroup/cgroup.type", ""}},
       "container-other"},
      {"root cgroup, unified hierarchy",
       {{"proc/self/ns/cgroup", ""}, {"sys/fs/cgroup/cgroup.controllers", ""}, {"sys/kernel/cgroup/features", ""}},
       "none"},
      {"cgroup namespace, legacy hierarchy", {{"proc/self/ns/cgroup", ""}, {"sys/fs/cgroup/systemd/", ""}},
       "container-other"},
      {"root cgroup, legacy hierarchy",
       {{"proc/self/ns/cgroup", ""}, {"sys/fs/cgroup/systemd/release_agent", ""}}, "none"},
  };
  ScratchDir dir;
  ScopedCpuid cpuid(kBareMetal);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const LinuxRoot root(MakeRoot(dir.path() / std::to_string(n++), c.files));
    const VirtNames names = NameVirt(ReadVmFactsUnder(root), ReadContainerFactsUnder(root));
    EXPECT_EQ(names.container, c.container);
    EXPECT_EQ(names.hypervisor, "none");
  }
}

// The first line systemd-detect-virt prints with `option`; nullopt when the
// program is not installed.
std::optional<std::string> SystemdDetectVirt(const std::string& option) {
  FILE* p = popen(("command -v systemd-detect-virt >/dev/null 2>&1 && systemd-detect-virt " + option +
                   " 2>/dev/null || echo '(missing)'")
                      .c_str(),
                  "r");
  if (!p) return std::nullopt;
  char line[256] = {};
  const bool read = fgets(line, sizeof line, p) != nullptr;
  pclose(p);
  if (!read) return std::nullopt;
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text == "(missing)") return std::nullopt;
  return text;
}

TEST(VirtLinuxTest, AgreesWithSystemdDetectVirtOnThisMachine) {
  const auto vm = SystemdDetectVirt("--vm");
  const auto container = SystemdDetectVirt("--container");
  if (!vm || !container) GTEST_SKIP() << "systemd-detect-virt is not installed";
  const VirtNames names = DetectVirt();
  EXPECT_EQ(names.hypervisor, *vm);
  EXPECT_EQ(names.container, *container);
}

}  // namespace
}  // namespace hostprobe
