// The hypervisor and the container this program runs under, named as
// vmdetect/virt_names.h names them ("none" where there is none). Read from
// the live machine each call (one implementation per OS); never logged.
#pragma once

#include <string>

namespace hostprobe {

struct VirtNames {
  std::string hypervisor;
  std::string container;
};

VirtNames DetectVirt();

}  // namespace hostprobe
