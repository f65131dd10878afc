// Reading the virtualization facts of Linux under a root directory, so that
// tests can stand a fake tree (its sys/, proc/, run/ and /.dockerenv) in for
// the machine's. CPUID comes from probes/cpuid.h (substitutable there).
#pragma once

#include "platform/linux/root/linux_root.h"
#include "platform/virt.h"

namespace hostprobe {

VmFacts ReadVmFactsUnder(const LinuxRoot& root);
ContainerFacts ReadContainerFactsUnder(const LinuxRoot& root);

}  // namespace hostprobe
