#include "platform/linux/linux_sources.h"
#include "platform/live/live.h"
#include "probes/probes.h"

namespace hostprobe {
namespace {

class LinkedProbeLoader : public ProbeLoader {
 public:
  ProbeTable Load() override {
    return {IsInsideVPC, IsInsideVMWare, IsInsideVMWare2, IsInsideVMWare3,
            ldtCheck,    mswCheck,       vmwareCheck};
  }
};

}  // namespace

std::unique_ptr<ProbeLoader> MakeLinuxProbeLoader() { return std::make_unique<LinkedProbeLoader>(); }

Platform MakeLivePlatform() {
  Platform p;
  p.adapters = MakeLinuxAdapterApi();
  p.interfaces = MakeLinuxInterfaceTableApi();
  p.drives = MakeLinuxDriveSource();
  p.probes = MakeLinuxProbeLoader();
  p.log = MakeLogFile();
  p.clock = MakeClock();
  return p;
}

}  // namespace hostprobe
