#include "vmdetect/probe_library.h"

namespace hostprobe {

int16_t ProbeLibrary::Call(Probe probe) {
  if (!table_) table_ = loader_.Load();
  return (*table_)[static_cast<int>(probe)]();
}

}  // namespace hostprobe
