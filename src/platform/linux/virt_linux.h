// Reading the virtualization facts of Linux under a root directory, so that
// tests can stand a fake tree (its sys/, proc/, run/ and /.dockerenv) in for
// the machine's. CPUID comes from probes/cpuid.h (substitutable there).
#pragma once

#include <string>

#include "platform/virt.h"
#include "vmdetect/virt_names.h"

namespace hostprobe {

// `root` is prefixed to every absolute path read: "" reads the machine.
VmFacts ReadVmFacts(const std::string& root);
ContainerFacts ReadContainerFacts(const std::string& root);
VirtNames DetectVirtUnder(const std::string& root);

}  // namespace hostprobe
