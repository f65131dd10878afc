#include "app/machine.h"

#include "platform/codepage.h"
#include "platform/snapshot_file.h"
#include "platform/virt.h"

namespace hostprobe {

SnapshotData ReadSnapshotFile(const std::string& path) { return ParseSnapshot(ReadSnapshotText(path), path); }

Platform OpenPlatform(const std::optional<std::string>& replay) {
  if (replay) return MakeReplayPlatform(ReadSnapshotFile(*replay));
  return MakeLivePlatform();
}

Platform MakeReplayPlatform(SnapshotData data) {
  SnapshotHost host;
  host.log = MakeLogFile();
  host.clock = MakeClock();
  host.utf8_to_system = [](std::string_view text) { return Utf8ToSystem(text); };
  return MakeSnapshotPlatform(std::move(data), std::move(host));
}

std::string CaptureMachine(Platform& platform) {
  const HostFacts facts = ReadHostFacts();
  const VirtNames virt = DetectVirt();
  CaptureHost host;
  host.captured = {{"host", facts.host},
                   {"os", facts.os},
                   {"hypervisor", virt.hypervisor},
                   {"container", virt.container}};
  host.system_to_utf8 = [](std::string_view text) { return SystemToUtf8(text); };
  return CaptureSnapshot(platform, host);
}

VirtNames DetectVirt() { return NameVirt(ReadVmFacts(), ReadContainerFacts()); }

}  // namespace hostprobe
