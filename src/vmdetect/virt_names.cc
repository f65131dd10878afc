#include "vmdetect/virt_names.h"

#include <cstdlib>
#include <string_view>

namespace hostprobe {
namespace {

constexpr const char* kNone = "none";
constexpr const char* kVmOther = "vm-other";
constexpr const char* kContainerOther = "container-other";

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The hypervisor vendor leaf, as each hypervisor fills it.
std::string FromCpuidVendor(const std::string& vendor) {
  static const struct {
    const char* vendor;
    const char* name;
  } kVendors[] = {
      {"XenVMMXenVMM", "xen"},
      {"KVMKVMKVM", "kvm"},
      {"Linux KVM Hv", "kvm"},  // KVM offering Hyper-V's interfaces as well
      {"TCGTCGTCGTCG", "qemu"},  // QEMU without KVM
      {"VMwareVMware", "vmware"},
      {"Microsoft Hv", "microsoft"},
      {"bhyve bhyve ", "bhyve"},
      {"QNXQVMBSQG", "qnx"},
      {"ACRNACRNACRN", "acrn"},
      {"SRESRESRESRE", "sre"},
      {"Apple VZ", "apple"},
  };
  for (const auto& v : kVendors) {
    if (vendor == v.vendor) return v.name;
  }
  return kVmOther;
}

// The first DMI field, in the order product name, system vendor, board
// vendor, BIOS vendor, product version, that starts with a known maker.
std::string FromDmi(const VmFacts& f) {
  static const struct {
    const char* prefix;
    const char* name;
  } kMakers[] = {
      {"KVM", "kvm"},
      {"OpenStack", "kvm"},
      {"KubeVirt", "kvm"},
      {"Amazon EC2", "amazon"},
      {"QEMU", "qemu"},
      {"VMware", "vmware"},
      {"VMW", "vmware"},
      {"innotek GmbH", "oracle"},
      {"VirtualBox", "oracle"},
      {"Oracle Corporation", "oracle"},
      {"Xen", "xen"},
      {"Bochs", "bochs"},
      {"Parallels", "parallels"},
      {"BHYVE", "bhyve"},
      {"Hyper-V", "microsoft"},
      {"Apple Virtualization", "apple"},
      {"Google Compute Engine", "google"},
  };
  // The product name first: a KVM guest's product may name KVM while its
  // vendor says QEMU.
  for (const std::string* field :
       {&f.product_name, &f.sys_vendor, &f.board_vendor, &f.bios_vendor, &f.product_version}) {
    for (const auto& m : kMakers) {
      if (field->starts_with(m.prefix)) return m.name;
    }
  }
  return kNone;
}

// DMI and the SMBIOS virtual machine bit together. Amazon's bare-metal
// instances carry the same DMI strings as its virtual ones: the bit, or a
// product name ending in ".metal", tells them apart.
std::string FromFirmware(const VmFacts& f) {
  const std::string dmi = FromDmi(f);
  if (dmi == "amazon") {
    if (f.smbios_vm_bit) return *f.smbios_vm_bit ? "amazon" : kNone;
    const auto metal = f.product_name.find(".metal");
    if (metal != std::string::npos) {
      const std::size_t after = metal + 6;
      if (after == f.product_name.size() || f.product_name[after] == '-') return kNone;
    }
    return "amazon";
  }
  if (dmi == kNone && f.smbios_vm_bit.value_or(false)) return kVmOther;
  return dmi;
}

// Xen's control domain (dom0) hosts the guests: feature bit 11 of
// /sys/hypervisor/properties/features, else "control_d" among the comma
// separated words of /proc/xen/capabilities.
bool XenDom0(const VmFacts& f) {
  if (f.xen_features) {
    char* end = nullptr;
    const unsigned long features = std::strtoul(f.xen_features->c_str(), &end, 16);
    if (end != f.xen_features->c_str()) return (features & (1ul << 11)) != 0;
  }
  if (!f.xen_capabilities) return false;
  std::string_view caps = *f.xen_capabilities;
  while (!caps.empty()) {
    const auto comma = caps.find(',');
    std::string_view word = caps.substr(0, comma);
    while (!word.empty() && (word.front() == ' ' || word.front() == '\t')) word.remove_prefix(1);
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t' || word.back() == '\n')) {
      word.remove_suffix(1);
    }
    if (word == "control_d") return true;
    if (comma == std::string_view::npos) break;
    caps.remove_prefix(comma + 1);
  }
  return false;
}

std::string FromDeviceTree(const VmFacts& f) {
  if (f.dt_hypervisor_compatible) {
    const std::string& hv = *f.dt_hypervisor_compatible;
    if (hv == "linux,kvm") return "kvm";
    if (Contains(hv, "xen")) return "xen";
    if (Contains(hv, "vmware")) return "vmware";
    return kVmOther;
  }
  if (f.dt_powervm) return "powervm";
  if (f.dt_fw_cfg) return "qemu";
  if (f.dt_compatible == "qemu,pseries") return "qemu";
  return kNone;
}

}  // namespace

std::string HypervisorName(const VmFacts& f) {
  // Firmware first for the makers whose guests run on another hypervisor's
  // engine (VirtualBox, Parallels, Amazon's and Google's KVM) or whose CPUID
  // may pose as Hyper-V (Xen).
  const std::string firmware = FromFirmware(f);
  for (const char* name : {"oracle", "xen", "amazon", "parallels", "google"}) {
    if (firmware == name) return firmware;
  }
  // User-mode Linux runs as a process, possibly inside another VM.
  if (f.cpuinfo_vendor_id.starts_with("User Mode Linux")) return "uml";

  bool dom0 = false;
  if (f.proc_xen) {
    dom0 = XenDom0(f);
    if (!dom0) return "xen";
  }

  bool microsoft = false, other = false;
  if (f.hypervisor_bit) {
    const std::string cpuid = FromCpuidVendor(f.cpuid_vendor);
    if (cpuid == "microsoft") {
      // QEMU with Hyper-V interfaces and Xen show this vendor too: the other
      // facts get their say first. The root partition is the host.
      microsoft = !f.hyperv_root;
    } else if (cpuid == kVmOther) {
      other = true;
    } else if (!(dom0 && cpuid == "xen")) {
      return cpuid;
    }
  }
  // A dom0 seen by CPUID as nothing but Xen itself is the host.
  if (dom0) return microsoft ? "microsoft" : (other ? kVmOther : kNone);

  if (firmware == kVmOther) {
    other = true;
  } else if (firmware != kNone) {
    return firmware;
  }

  if (f.sys_hypervisor_type == "xen") return "xen";
  if (!f.sys_hypervisor_type.empty()) other = true;

  const std::string tree = FromDeviceTree(f);
  if (tree == kVmOther) {
    other = true;
  } else if (tree != kNone) {
    return tree;
  }

  if (!f.zvm_control_program.empty()) return f.zvm_control_program == "z/VM" ? "zvm" : "kvm";

  if (microsoft) return "microsoft";
  if (other) return kVmOther;
  return kNone;
}

std::string ContainerName(const ContainerFacts& f) {
  // /proc/vz exists inside an OpenVZ container and on its host; /proc/bc
  // only on the host.
  if (f.proc_vz && !f.proc_bc) return "openvz";
  if (Contains(f.osrelease, "Microsoft") || Contains(f.osrelease, "WSL")) return "wsl";
  if (f.tracer_comm.starts_with("proot")) return "proot";

  auto by_files = [&]() -> std::string {
    // Podman first: an image built with Docker may still carry /.dockerenv.
    if (f.containerenv) return "podman";
    if (f.dockerenv) return "docker";
    return kNone;
  };
  auto by_name = [&](const std::string& name) -> std::string {
    static const char* const kKnown[] = {"lxc",  "lxc-libvirt", "systemd-nspawn", "docker", "podman",
                                         "rkt",  "wsl",         "proot",          "pouch"};
    // "oci" names the image format, not a manager: the marker files may.
    if (name == "oci") {
      const std::string files = by_files();
      return files == kNone ? kContainerOther : files;
    }
    for (const char* known : kKnown) {
      if (name == known) return name;
    }
    return kContainerOther;
  };
  // What the container manager says, where it says it.
  if (!f.run_host_container_manager.empty()) return by_name(f.run_host_container_manager);
  if (!f.run_systemd_container.empty()) return by_name(f.run_systemd_container);
  if (f.pid1_container && !f.pid1_container->empty()) return by_name(*f.pid1_container);

  const std::string files = by_files();
  if (files != kNone) return files;
  if (f.cgroup_namespace) return kContainerOther;
  return kNone;
}

VirtNames NameVirt(const VmFacts& vm, const ContainerFacts& container) {
  return {HypervisorName(vm), ContainerName(container)};
}

}  // namespace hostprobe
