#include "platform/linux/virt_linux.h"
#include "platform/live/live.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <vector>

#include "probes/cpuid.h"

namespace hostprobe {
namespace {

// A file's first line, cut at a NUL too (device tree strings end in one);
// nullopt when it cannot be read.
std::optional<std::string> FirstLine(const LinuxRoot& root, const std::string& path) {
  auto text = root.Read(path);
  if (!text) return std::nullopt;
  text->erase(std::min(text->find('\n'), text->find('\0')));
  return text;
}

std::string FirstLineOrEmpty(const LinuxRoot& root, const std::string& path) {
  return FirstLine(root, path).value_or("");
}

// The first line of `path` that starts with `prefix`, without it; nullopt
// when there is none.
std::optional<std::string> LineAfter(const LinuxRoot& root, const std::string& path, const std::string& prefix) {
  std::istringstream in(root.Read(path).value_or(""));
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(prefix)) return line.substr(prefix.size());
  }
  return std::nullopt;
}

// The first word after "name:" in a "name: value" file such as
// /proc/self/status or /proc/sysinfo; empty when there is none.
std::string Field(const LinuxRoot& root, const std::string& path, const std::string& name) {
  std::istringstream rest(LineAfter(root, path, name + ":").value_or(""));
  std::string word;
  rest >> word;
  return word;
}

std::string CpuinfoVendor(const LinuxRoot& root, const std::string& path) {
  return LineAfter(root, path, "vendor_id\t: ").value_or("");
}

// SMBIOS type 0 as the kernel exports it: byte 1 is the structure's length
// and byte 19 its BIOS characteristics extension byte 2.
std::optional<bool> SmbiosVmBit(const LinuxRoot& root, const std::string& path) {
  const auto raw = root.Read(path);
  if (!raw || raw->size() < 20 || static_cast<unsigned char>((*raw)[1]) < 20) return std::nullopt;
  return (static_cast<unsigned char>((*raw)[19]) & 0x10) != 0;
}

bool AnyEntryContaining(const LinuxRoot& root, const std::string& dir, const std::string& part) {
  const std::vector<std::string> names = root.List(dir);
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return n.find(part) != n.npos; });
}

std::optional<std::string> EnvironValue(const LinuxRoot& root, const std::string& path, const std::string& name) {
  const auto environ_text = root.Read(path);
  if (!environ_text) return std::nullopt;
  std::istringstream in(*environ_text);
  std::string entry;
  const std::string key = name + "=";
  while (std::getline(in, entry, '\0')) {
    if (entry.starts_with(key)) return entry.substr(key.size());
  }
  return std::nullopt;
}

// Whether this process sits in a cgroup namespace below the root cgroup.
bool InCgroupNamespace(const LinuxRoot& root) {
  const auto exists = [&](const std::string& path) { return root.Exists(path); };
  if (!exists("/proc/self/ns/cgroup")) return false;
  const std::string fs = "/sys/fs/cgroup";
  if (exists(fs + "/cgroup.controllers")) {
    // The unified hierarchy: cgroup.events exists only below the root, and
    // so does cgroup.type on kernels that list their cgroup features.
    if (!exists(fs + "/cgroup.events")) return false;
    if (exists(fs + "/cgroup.type")) return true;
    return !exists("/sys/kernel/cgroup/features");
  }
  // The legacy hierarchy: release_agent exists only at the root.
  if (!exists(fs + "/systemd")) return false;
  return !exists(fs + "/systemd/release_agent");
}

}  // namespace

VmFacts ReadVmFactsUnder(const LinuxRoot& root) {
  VmFacts f;
  f.hypervisor_bit = probes::HypervisorPresent();
  f.cpuid_vendor = probes::HypervisorVendor();
  f.hyperv_root = probes::HyperVRootPartition();

  const std::string dmi = "/sys/class/dmi/id/";
  f.product_name = FirstLineOrEmpty(root, dmi + "product_name");
  f.sys_vendor = FirstLineOrEmpty(root, dmi + "sys_vendor");
  f.board_vendor = FirstLineOrEmpty(root, dmi + "board_vendor");
  f.bios_vendor = FirstLineOrEmpty(root, dmi + "bios_vendor");
  f.product_version = FirstLineOrEmpty(root, dmi + "product_version");
  f.smbios_vm_bit = SmbiosVmBit(root, "/sys/firmware/dmi/entries/0-0/raw");

  f.cpuinfo_vendor_id = CpuinfoVendor(root, "/proc/cpuinfo");
  f.proc_xen = root.Exists("/proc/xen");
  f.xen_features = FirstLine(root, "/sys/hypervisor/properties/features");
  f.xen_capabilities = FirstLine(root, "/proc/xen/capabilities");
  f.sys_hypervisor_type = FirstLineOrEmpty(root, "/sys/hypervisor/type");

  const std::string tree = "/proc/device-tree";
  f.dt_hypervisor_compatible = FirstLine(root, tree + "/hypervisor/compatible");
  f.dt_powervm = root.Exists(tree + "/ibm,partition-name") && root.Exists(tree + "/hmc-managed?") &&
                 !root.Exists(tree + "/chosen/qemu,graphic-width");
  f.dt_fw_cfg = AnyEntryContaining(root, tree, "fw-cfg");
  f.dt_compatible = FirstLineOrEmpty(root, tree + "/compatible");
  f.zvm_control_program = Field(root, "/proc/sysinfo", "VM00 Control Program");
  return f;
}

ContainerFacts ReadContainerFactsUnder(const LinuxRoot& root) {
  ContainerFacts f;
  f.proc_vz = root.Exists("/proc/vz");
  f.proc_bc = root.Exists("/proc/bc");
  f.osrelease = FirstLineOrEmpty(root, "/proc/sys/kernel/osrelease");
  const std::string tracer = Field(root, "/proc/self/status", "TracerPid");
  if (!tracer.empty() && tracer != "0" && tracer.find_first_not_of("0123456789") == std::string::npos) {
    f.tracer_comm = FirstLineOrEmpty(root, "/proc/" + tracer + "/comm");
  }
  f.run_host_container_manager = FirstLineOrEmpty(root, "/run/host/container-manager");
  f.run_systemd_container = FirstLineOrEmpty(root, "/run/systemd/container");
  // PID 1's environment is readable only with ptrace rights over it; the
  // files above are how an unprivileged process learns the same.
  f.pid1_container = EnvironValue(root, "/proc/1/environ", "container");
  f.containerenv = root.Exists("/run/.containerenv");
  f.dockerenv = root.Exists("/.dockerenv");
  f.cgroup_namespace = InCgroupNamespace(root);
  return f;
}

VmFacts ReadVmFacts() { return ReadVmFactsUnder(LinuxRoot::Live()); }
ContainerFacts ReadContainerFacts() { return ReadContainerFactsUnder(LinuxRoot::Live()); }

}  // namespace hostprobe
