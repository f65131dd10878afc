// The probe library as the reports call it: the seven routines, loaded on the
// first call of any of them; every call asks the routine again.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/probe_loader.h"

namespace hostprobe {

class ProbeLibrary {
 public:
  explicit ProbeLibrary(ProbeLoader& loader) : loader_(loader) {}

  // Each throws Error (kProbeLibrary) when the library or a routine is missing.
  int16_t IsInsideVPC() { return Call(Probe::kIsInsideVPC); }
  int16_t IsInsideVMWare() { return Call(Probe::kIsInsideVMWare); }
  int16_t IsInsideVMWare2() { return Call(Probe::kIsInsideVMWare2); }
  int16_t IsInsideVMWare3() { return Call(Probe::kIsInsideVMWare3); }
  int16_t ldtCheck() { return Call(Probe::kLdtCheck); }
  int16_t mswCheck() { return Call(Probe::kMswCheck); }
  int16_t vmwareCheck() { return Call(Probe::kVmwareCheck); }

  int16_t Call(Probe probe);

 private:
  ProbeLoader& loader_;
  std::optional<ProbeTable> table_;
};

}  // namespace hostprobe
