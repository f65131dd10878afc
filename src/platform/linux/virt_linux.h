// Reading the virtualization facts of Linux under a root directory, so that
// tests can stand a fake tree (its sys/, proc/, run/ and /.dockerenv) in for
// the machine's. CPUID comes from probes/cpuid.h (substitutable there).
#pragma once

#include <string>

#include "platform/virt.h"

namespace hostprobe {

// `root` is prefixed to every absolute path read: "" reads the machine.
VmFacts ReadVmFactsUnder(const std::string& root);
ContainerFacts ReadContainerFactsUnder(const std::string& root);

}  // namespace hostprobe
