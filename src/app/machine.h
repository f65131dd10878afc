// The machine a front end runs on: the live platform, or a snapshot replayed
// on this machine's log file, clock and code page; and what --capture and
// --virt say of it. The one place where the logic meets the live sources.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/snapshot/snapshot.h"
#include "report/redact.h"
#include "vmdetect/virt_names.h"

namespace hostprobe {

// Reads and parses the snapshot file at `path` (throws SnapshotError).
SnapshotData ReadSnapshotFile(const std::string& path);

// The snapshot file `replay` (throws SnapshotError) or the live machine.
Platform OpenPlatform(const std::optional<std::string>& replay);

// A platform serving `data` with the real log file in the current directory
// and the live clock for what `data` does not fix.
Platform MakeReplayPlatform(SnapshotData data);

// The snapshot of `platform`, with this machine's host name, OS and
// virtualization in its informational "captured" block; the host name
// redacted by `redactor` where there is one.
std::string CaptureMachine(Platform& platform, Redactor* redactor = nullptr);

// The report of `platform` (JSON or text): for the live machine with its host
// name (redacted by `redactor` where there is one) and virtualization names.
std::string ReportMachine(Platform& platform, bool replayed, bool json, Redactor* redactor);

// The hypervisor and the container this program runs under.
VirtNames DetectVirt();

}  // namespace hostprobe
