#include "app/machine.h"

#include "platform/live/live.h"
#include "platform/snapshot_file.h"
#include "report/report.h"

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

std::string CaptureMachine(Platform& platform, Redactor* redactor) {
  HostFacts facts = ReadHostFacts();
  if (redactor) facts.host = redactor->Host(facts.host);
  const VirtNames virt = DetectVirt();
  CaptureHost host;
  host.captured = {{"host", facts.host},
                   {"os", facts.os},
                   {"hypervisor", virt.hypervisor},
                   {"container", virt.container}};
  host.system_to_utf8 = [](std::string_view text) { return SystemToUtf8(text); };
  return CaptureSnapshot(platform, host);
}

std::string ReportMachine(Platform& platform, bool replayed, bool json, Redactor* redactor) {
  ReportContext context;
  context.replayed = replayed;
  context.redacted = redactor != nullptr;
  if (!replayed) {
    const std::string host = ReadHostFacts().host;
    context.host = redactor ? redactor->Host(host) : host;
    context.virt = DetectVirt();
  }
  const ReportFacts facts = GatherReport(platform, context);
  const ToUtf8 to_utf8 = [](std::string_view text) { return SystemToUtf8(text); };
  return json ? RenderReportJson(facts, to_utf8) : RenderReportText(facts, to_utf8);
}

VirtNames DetectVirt() { return NameVirt(ReadVmFacts(), ReadContainerFacts()); }

}  // namespace hostprobe
