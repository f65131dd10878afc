// Placeholder until the live drive source lands: no drives.
#include "platform/linux/linux_sources.h"

namespace hostprobe {
namespace {
class NoDrives : public DriveList {
 public:
  std::vector<Drive*> Drives() override { return {}; }
  int32_t Count() override { return 0; }
};
class EmptySource : public DriveSource {
 public:
  std::unique_ptr<DriveList> Open() override { return std::make_unique<NoDrives>(); }
};
}  // namespace
std::unique_ptr<DriveSource> MakeLinuxDriveSource() { return std::make_unique<EmptySource>(); }
}  // namespace hostprobe
