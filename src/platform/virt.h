// What the machine says about the hypervisor and the container this program
// runs under: facts as read, named by vmdetect/virt_names.h. The live machine's
// come from platform/live/live.h (one implementation per OS); never logged.
#pragma once

#include <optional>
#include <string>

namespace hostprobe {

// What the machine says about a hypervisor. Texts are as read (a file's first
// line, or an SMBIOS string); empty when absent.
struct VmFacts {
  // CPUID: leaf 1 ECX bit 31, the vendor of leaf 0x40000000, and whether
  // this is Hyper-V's root partition (the host).
  bool hypervisor_bit = false;
  std::string cpuid_vendor;
  bool hyperv_root = false;

  // DMI / SMBIOS identity.
  std::string product_name, sys_vendor, board_vendor, bios_vendor, product_version;
  // SMBIOS BIOS characteristics: the firmware says it runs in a VM.
  std::optional<bool> smbios_vm_bit;

  // Linux only.
  std::string cpuinfo_vendor_id;          // /proc/cpuinfo "vendor_id" ("User Mode Linux")
  bool proc_xen = false;                  // /proc/xen exists
  std::optional<std::string> xen_features;      // /sys/hypervisor/properties/features (hex)
  std::optional<std::string> xen_capabilities;  // /proc/xen/capabilities
  std::string sys_hypervisor_type;        // /sys/hypervisor/type
  // /proc/device-tree
  std::optional<std::string> dt_hypervisor_compatible;  // hypervisor/compatible
  bool dt_powervm = false;  // ibm,partition-name and hmc-managed? without chosen/qemu,graphic-width
  bool dt_fw_cfg = false;   // an entry whose name holds "fw-cfg"
  std::string dt_compatible;
  std::string zvm_control_program;  // /proc/sysinfo "VM00 Control Program"
};

// What the process's surroundings say about a container.
struct ContainerFacts {
  bool proc_vz = false, proc_bc = false;  // /proc/vz, /proc/bc
  std::string osrelease;                  // /proc/sys/kernel/osrelease
  std::string tracer_comm;                // comm of the TracerPid, when traced
  std::string run_host_container_manager;  // /run/host/container-manager
  std::string run_systemd_container;       // /run/systemd/container
  std::optional<std::string> pid1_container;  // PID 1's container= variable
  bool containerenv = false;  // /run/.containerenv
  bool dockerenv = false;     // /.dockerenv
  bool cgroup_namespace = false;  // this process sits in a cgroup namespace of its own
};


}  // namespace hostprobe
