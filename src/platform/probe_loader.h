// The probe library: seven routines without arguments, each returning a
// 16-bit value. A loader resolves all seven at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

namespace hostprobe {

enum class Probe {
  kIsInsideVPC,
  kIsInsideVMWare,
  kIsInsideVMWare2,
  kIsInsideVMWare3,
  kLdtCheck,
  kMswCheck,
  kVmwareCheck,
};
inline constexpr int kProbeCount = 7;

// The routine's exported name, e.g. "IsInsideVPC".
const char* ProbeName(Probe probe);

using ProbeRoutine = std::function<int16_t()>;
using ProbeTable = std::array<ProbeRoutine, kProbeCount>;  // indexed by Probe

class ProbeLoader {
 public:
  virtual ~ProbeLoader() = default;
  // Loads the library and resolves all seven routines. Throws Error
  // (kProbeLibrary) naming the library, or the routine that is missing.
  virtual ProbeTable Load() = 0;
};

}  // namespace hostprobe
