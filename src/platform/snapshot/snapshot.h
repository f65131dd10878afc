// Snapshots: a JSON file holding every fact the platform gives the reports.
// --replay reads one in place of the live machine; --capture writes one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"  // SnapshotError
#include "platform/platform.h"
#include "platform/records.h"
#include "platform/snapshot_file.h"  // kMaxSnapshotBytes

namespace hostprobe {

struct SnapshotAdapters {
  uint32_t needed_length = 0;
  uint32_t fill_status = 0;
  std::vector<std::array<uint8_t, records::kAdapterSize>> records;  // Next fields left 0
};

struct SnapshotInterfaces {
  uint32_t needed_length = 0;
  uint32_t fill_status = 0;
  uint32_t num_entries = 0;
  std::vector<std::array<uint8_t, records::kRowSize>> rows;
};

struct SnapshotDrive {
  std::string letter;  // drive texts are UTF-8 here
  bool ready = false;
  std::string volume_name;
  int32_t type = 0;
  std::string file_system;
  int32_t serial_number = 0;
  std::string share_name;
  std::string root_path;
  int64_t total_size = 0;
  int64_t free_space = 0;
  std::string fail;  // the property whose read fails, or empty
};

struct SnapshotProbes {
  bool loadable = true;
  // Each routine's result; nullopt where the routine is missing.
  std::array<std::optional<int16_t>, kProbeCount> results{};
};

struct SnapshotData {
  std::optional<std::string> timestamp;
  std::optional<std::string> thousands_separator;
  SnapshotAdapters adapters;
  SnapshotInterfaces interfaces;
  std::vector<SnapshotDrive> drives;
  SnapshotProbes probes;
};

// The location the snapshot's adapter API gives buffer index 0.
inline constexpr uint32_t kSnapshotBufferLocation = records::kNotionalBufferLocation;

// Parses snapshot text; `name` is the file name used in error messages.
// Throws SnapshotError.
SnapshotData ParseSnapshot(std::string_view text, const std::string& name);

// What a snapshot platform takes from the machine it runs on: the log file,
// the clock for what `data` does not fix, and the conversion of UTF-8 text
// to the system's 8-bit code page. Handed in, so that replaying needs no
// live source.
struct SnapshotHost {
  std::unique_ptr<LogFile> log;
  std::unique_ptr<Clock> clock;
  std::function<std::string(std::string_view)> utf8_to_system;
};

// A platform serving `data` over `host`.
Platform MakeSnapshotPlatform(SnapshotData data, SnapshotHost host);

// Informational facts about the captured machine ("captured" block, which
// replay ignores), and the conversion of system text to UTF-8.
struct CaptureHost {
  std::vector<std::pair<std::string, std::string>> captured;  // in order, UTF-8
  std::function<std::string(std::string_view)> system_to_utf8;
};

// The UTF-8 timestamp that the clock of a snapshot platform gives every
// record; nullopt for any other clock, and where the snapshot fixes none.
std::optional<std::string> FixedTimestamp(const Clock& clock);
// The same for the thousands separator.
std::optional<std::string> FixedThousandsSeparator(const Clock& clock);

// The drives and the probe library a snapshot platform serves, as the
// snapshot holds them (failing reads and missing routines included), so that
// a capture of a replay keeps every one; nullptr for any other source.
const std::vector<SnapshotDrive>* ReplayedDrives(const DriveSource& source);
const SnapshotProbes* ReplayedProbes(const ProbeLoader& loader);

// The snapshot of `platform` as JSON text: adapters, interfaces, drives,
// probes, the thousands separator, the timestamp where the platform is a
// snapshot's that fixes one (so that a capture of a replay replays to the
// same log), and `host`'s "captured" facts with the time of the capture.
std::string CaptureSnapshot(Platform& platform, const CaptureHost& host);

}  // namespace hostprobe
