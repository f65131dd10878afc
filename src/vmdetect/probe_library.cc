#include "vmdetect/probe_library.h"

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

int16_t ProbeLibrary::Call(Probe probe) {
  if (!table_) table_ = loader_.Load();
  return (*table_)[static_cast<int>(probe)]();
}

}  // namespace hostprobe
