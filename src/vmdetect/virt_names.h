// Naming the hypervisor and the container this program runs under, in the
// words systemd-detect-virt uses ("kvm", "vmware", "microsoft", "docker",
// "wsl", "none", ...), so that scripts can compare the two. The facts are
// read per OS (platform/virt.h); the naming here is pure logic.
#pragma once

#include <string>

#include "platform/virt.h"

namespace hostprobe {

struct VirtNames {
  std::string hypervisor;
  std::string container;
};

// "none" or the hypervisor's name. A Hyper-V root partition and a Xen dom0
// are hosts: "none" (unless nested under another hypervisor).
std::string HypervisorName(const VmFacts& facts);

// "none" or the container's name.
std::string ContainerName(const ContainerFacts& facts);

VirtNames NameVirt(const VmFacts& vm, const ContainerFacts& container);

}  // namespace hostprobe
