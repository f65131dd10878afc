// Snapshots: a JSON file holding every fact the platform gives the reports.
// --replay reads one in place of the live machine; --capture writes one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/records.h"

namespace hostprobe {

// An unreadable or invalid snapshot; what() names the file, the place in it
// and what is wrong.
class SnapshotError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

// The largest snapshot file read, in bytes.
inline constexpr std::uintmax_t kMaxSnapshotBytes = 64u << 20;

// The location the snapshot's adapter API gives buffer index 0.
inline constexpr uint32_t kSnapshotBufferLocation = 0x00100000;

// Parses snapshot text; `name` is the file name used in error messages.
SnapshotData ParseSnapshot(std::string_view text, const std::string& name);

// Reads and parses the snapshot file at `path`.
SnapshotData ReadSnapshotFile(const std::string& path);

// A platform serving `data`; the log file is the real one in the current
// directory, and the clock the live one where `data` fixes no timestamp or
// separator.
Platform MakeSnapshotPlatform(SnapshotData data);

// The UTF-8 timestamp that the clock of a snapshot platform gives every
// record; nullopt for any other clock, and where the snapshot fixes none.
std::optional<std::string> FixedTimestamp(const Clock& clock);

// The snapshot of `platform` as JSON text: adapters, interfaces, drives,
// probes, the thousands separator, the timestamp where the platform is a
// snapshot's that fixes one (so that a capture of a replay replays to the
// same log), and informational "captured" facts.
std::string CaptureSnapshot(Platform& platform);

}  // namespace hostprobe
