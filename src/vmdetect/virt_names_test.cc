// Naming from facts alone, as the Windows build gathers them (CPUID and the
// SMBIOS identity strings); the Linux files are covered over fake roots.
#include "vmdetect/virt_names.h"

#include <gtest/gtest.h>

namespace hostprobe {
namespace {

VmFacts Cpuid(const std::string& vendor, bool root = false) {
  VmFacts f;
  f.hypervisor_bit = true;
  f.cpuid_vendor = vendor;
  f.hyperv_root = root;
  return f;
}

VmFacts WithSmbios(VmFacts f, const std::string& vendor, const std::string& product,
                   std::optional<bool> vm_bit = std::nullopt) {
  f.sys_vendor = vendor;
  f.product_name = product;
  f.smbios_vm_bit = vm_bit;
  return f;
}

TEST(VirtNamesTest, WindowsFacts) {
  const struct {
    const char* name;
    VmFacts facts;
    const char* hypervisor;
  } cases[] = {
      {"physical desktop", WithSmbios({}, "Dell Inc.", "OptiPlex 7090", false), "none"},
      {"desktop with memory integrity (root partition)",
       WithSmbios(Cpuid("Microsoft Hv", true), "LENOVO", "20XW0055GE", false), "none"},
      {"Surface laptop: Microsoft hardware is no VM", WithSmbios({}, "Microsoft Corporation", "Surface Laptop 4"),
       "none"},
      {"Hyper-V guest", WithSmbios(Cpuid("Microsoft Hv"), "Microsoft Corporation", "Virtual Machine"), "microsoft"},
      {"nested: root partition inside a VMware guest",
       WithSmbios(Cpuid("Microsoft Hv", true), "VMware, Inc.", "VMware7,1"), "vmware"},
      {"VMware guest", WithSmbios(Cpuid("VMwareVMware"), "VMware, Inc.", "VMware Virtual Platform"), "vmware"},
      {"VirtualBox guest on Hyper-V's engine", WithSmbios(Cpuid("Microsoft Hv"), "innotek GmbH", "VirtualBox"),
       "oracle"},
      {"Parallels guest", WithSmbios(Cpuid("KVMKVMKVM"), "Parallels International GmbH.", "Parallels ARM Virtual Machine"),
       "parallels"},
      {"KVM guest with Hyper-V interfaces, QEMU firmware",
       WithSmbios(Cpuid("Microsoft Hv"), "QEMU", "Standard PC (Q35 + ICH9, 2009)"), "qemu"},
      {"unknown hypervisor", Cpuid("ZZZZZZZZZZZZ"), "vm-other"},
      {"firmware says VM, nothing else does", WithSmbios({}, "ACME", "Box", true), "vm-other"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HypervisorName(c.facts), c.hypervisor);
  }
}

TEST(VirtNamesTest, NoContainerFactsIsNone) { EXPECT_EQ(ContainerName({}), "none"); }

}  // namespace
}  // namespace hostprobe
