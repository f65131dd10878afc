#include "platform/probe_loader.h"

namespace hostprobe {

const char* ProbeName(Probe probe) {
  switch (probe) {
    case Probe::kIsInsideVPC: return "IsInsideVPC";
    case Probe::kIsInsideVMWare: return "IsInsideVMWare";
    case Probe::kIsInsideVMWare2: return "IsInsideVMWare2";
    case Probe::kIsInsideVMWare3: return "IsInsideVMWare3";
    case Probe::kLdtCheck: return "ldtCheck";
    case Probe::kMswCheck: return "mswCheck";
    case Probe::kVmwareCheck: return "vmwareCheck";
  }
  return "?";
}

}  // namespace hostprobe
