#include "platform/linux/virt_linux.h"
#include "platform/linux/read_file.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "probes/cpuid.h"

namespace hostprobe {
namespace {

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A file's first line, cut at a NUL too (device tree strings end in one);
// nullopt when it cannot be read.
std::optional<std::string> FirstLine(const std::string& path) {
  auto text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  text->erase(std::min(text->find('\n'), text->find('\0')));
  return text;
}

std::string FirstLineOrEmpty(const std::string& path) { return FirstLine(path).value_or(""); }

// The first word after "name:" in a "name: value" file such as
// /proc/self/status or /proc/sysinfo; empty when there is none.
std::string Field(const std::string& path, const std::string& name) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + ":", 0) != 0) continue;
    std::istringstream rest(line.substr(name.size() + 1));
    std::string word;
    rest >> word;
    return word;
  }
  return "";
}

std::string CpuinfoVendor(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  const std::string key = "vendor_id\t: ";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  }
  return "";
}

// SMBIOS type 0 as the kernel exports it: byte 1 is the structure's length
// and byte 19 its BIOS characteristics extension byte 2.
std::optional<bool> SmbiosVmBit(const std::string& path) {
  const auto raw = ReadWholeFile(path);
  if (!raw || raw->size() < 20 || static_cast<unsigned char>((*raw)[1]) < 20) return std::nullopt;
  return (static_cast<unsigned char>((*raw)[19]) & 0x10) != 0;
}

bool AnyEntryContaining(const std::string& dir, const std::string& part) {
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  bool found = false;
  while (dirent* e = readdir(d)) {
    if (std::string(e->d_name).find(part) != std::string::npos) {
      found = true;
      break;
    }
  }
  closedir(d);
  return found;
}

std::optional<std::string> EnvironValue(const std::string& path, const std::string& name) {
  const auto environ_text = ReadWholeFile(path);
  if (!environ_text) return std::nullopt;
  std::istringstream in(*environ_text);
  std::string entry;
  const std::string key = name + "=";
  while (std::getline(in, entry, '\0')) {
    if (entry.rfind(key, 0) == 0) return entry.substr(key.size());
  }
  return std::nullopt;
}

// Whether this process sits in a cgroup namespace below the root cgroup.
bool InCgroupNamespace(const std::string& root) {
  if (!Exists(root + "/proc/self/ns/cgroup")) return false;
  const std::string fs = root + "/sys/fs/cgroup";
  if (Exists(fs + "/cgroup.controllers")) {
    // The unified hierarchy: cgroup.events exists only below the root, and
    // so does cgroup.type on kernels that list their cgroup features.
    if (!Exists(fs + "/cgroup.events")) return false;
    if (Exists(fs + "/cgroup.type")) return true;
    return !Exists(root + "/sys/kernel/cgroup/features");
  }
  // The legacy hierarchy: release_agent exists only at the root.
  if (!Exists(fs + "/systemd")) return false;
  return !Exists(fs + "/systemd/release_agent");
}

}  // namespace

VmFacts ReadVmFactsUnder(const std::string& root) {
  VmFacts f;
  f.hypervisor_bit = probes::HypervisorPresent();
  f.cpuid_vendor = probes::HypervisorVendor();
  f.hyperv_root = probes::HyperVRootPartition();

  const std::string dmi = root + "/sys/class/dmi/id/";
  f.product_name = FirstLineOrEmpty(dmi + "product_name");
  f.sys_vendor = FirstLineOrEmpty(dmi + "sys_vendor");
  f.board_vendor = FirstLineOrEmpty(dmi + "board_vendor");
  f.bios_vendor = FirstLineOrEmpty(dmi + "bios_vendor");
  f.product_version = FirstLineOrEmpty(dmi + "product_version");
  f.smbios_vm_bit = SmbiosVmBit(root + "/sys/firmware/dmi/entries/0-0/raw");

  f.cpuinfo_vendor_id = CpuinfoVendor(root + "/proc/cpuinfo");
  f.proc_xen = Exists(root + "/proc/xen");
  f.xen_features = FirstLine(root + "/sys/hypervisor/properties/features");
  f.xen_capabilities = FirstLine(root + "/proc/xen/capabilities");
  f.sys_hypervisor_type = FirstLineOrEmpty(root + "/sys/hypervisor/type");

  const std::string tree = root + "/proc/device-tree";
  f.dt_hypervisor_compatible = FirstLine(tree + "/hypervisor/compatible");
  f.dt_powervm = Exists(tree + "/ibm,partition-name") && Exists(tree + "/hmc-managed?") &&
                 !Exists(tree + "/chosen/qemu,graphic-width");
  f.dt_fw_cfg = AnyEntryContaining(tree, "fw-cfg");
  f.dt_compatible = FirstLineOrEmpty(tree + "/compatible");
  f.zvm_control_program = Field(root + "/proc/sysinfo", "VM00 Control Program");
  return f;
}

ContainerFacts ReadContainerFactsUnder(const std::string& root) {
  ContainerFacts f;
  f.proc_vz = Exists(root + "/proc/vz");
  f.proc_bc = Exists(root + "/proc/bc");
  f.osrelease = FirstLineOrEmpty(root + "/proc/sys/kernel/osrelease");
  const std::string tracer = Field(root + "/proc/self/status", "TracerPid");
  if (!tracer.empty() && tracer != "0" && tracer.find_first_not_of("0123456789") == std::string::npos) {
    f.tracer_comm = FirstLineOrEmpty(root + "/proc/" + tracer + "/comm");
  }
  f.run_host_container_manager = FirstLineOrEmpty(root + "/run/host/container-manager");
  f.run_systemd_container = FirstLineOrEmpty(root + "/run/systemd/container");
  // PID 1's environment is readable only with ptrace rights over it; the
  // files above are how an unprivileged process learns the same.
  f.pid1_container = EnvironValue(root + "/proc/1/environ", "container");
  f.containerenv = Exists(root + "/run/.containerenv");
  f.dockerenv = Exists(root + "/.dockerenv");
  f.cgroup_namespace = InCgroupNamespace(root);
  return f;
}

VmFacts ReadVmFacts() { return ReadVmFactsUnder(""); }
ContainerFacts ReadContainerFacts() { return ReadContainerFactsUnder(""); }

}  // namespace hostprobe
