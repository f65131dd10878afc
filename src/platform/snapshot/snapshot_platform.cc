// The platform sources that serve a parsed snapshot.
#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/error.h"
#include "platform/utf8.h"
#include "platform/snapshot/snapshot.h"

namespace hostprobe {
namespace {

namespace rec = records;

// UTF-8 snapshot text to the system's code page, as the host converts it.
using ToSystem = std::function<std::string(std::string_view)>;

class SnapshotAdapterApi : public AdapterApi {
 public:
  explicit SnapshotAdapterApi(SnapshotAdapters data) : data_(std::move(data)) {}
  uint32_t NeededLength() override { return data_.needed_length; }

  // The records lie one after another from buffer index 0, chained in order;
  // whatever does not fit the buffer is cut off.
  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    if (data_.fill_status != 0) return data_.fill_status;
    *location = kSnapshotBufferLocation;
    std::fill(buffer.begin(), buffer.end(), 0);
    for (std::size_t i = 0; i < data_.records.size(); ++i) {
      auto record = data_.records[i];
      const bool last = i + 1 == data_.records.size();
      rec::PutU32(record.data() + rec::kAdNext,
                  last ? 0 : kSnapshotBufferLocation + static_cast<uint32_t>((i + 1) * rec::kAdapterSize));
      const std::size_t at = i * rec::kAdapterSize;
      if (at >= buffer.size()) break;
      std::memcpy(buffer.data() + at, record.data(), std::min(record.size(), buffer.size() - at));
    }
    return 0;
  }

 private:
  SnapshotAdapters data_;
};

class SnapshotInterfaceTableApi : public InterfaceTableApi {
 public:
  explicit SnapshotInterfaceTableApi(SnapshotInterfaces data) : data_(std::move(data)) {}
  uint32_t NeededLength() override { return data_.needed_length; }

  // The count, then the rows one after another; cut off at the buffer's end.
  uint32_t Fill(std::span<uint8_t> buffer) override {
    if (data_.fill_status != 0) return data_.fill_status;
    std::vector<uint8_t> table(rec::kTableRows + data_.rows.size() * rec::kRowSize);
    rec::PutU32(table.data(), data_.num_entries);
    for (std::size_t i = 0; i < data_.rows.size(); ++i) {
      std::memcpy(table.data() + rec::kTableRows + i * rec::kRowSize, data_.rows[i].data(), rec::kRowSize);
    }
    std::fill(buffer.begin(), buffer.end(), 0);
    std::memcpy(buffer.data(), table.data(), std::min(table.size(), buffer.size()));
    return 0;
  }

 private:
  SnapshotInterfaces data_;
};

class SnapshotDriveObject : public Drive {
 public:
  SnapshotDriveObject(const SnapshotDrive& d, const ToSystem& to_system) : d_(d), to_system_(to_system) {}
  bool IsReady() override { return Read("IsReady", d_.ready); }
  std::string DriveLetter() override { return Read("DriveLetter", to_system_(d_.letter)); }
  std::string VolumeName() override { return Read("VolumeName", to_system_(d_.volume_name)); }
  int32_t DriveType() override { return Read("DriveType", d_.type); }
  std::string FileSystem() override { return Read("FileSystem", to_system_(d_.file_system)); }
  int32_t SerialNumber() override { return Read("SerialNumber", d_.serial_number); }
  std::string ShareName() override { return Read("ShareName", to_system_(d_.share_name)); }
  std::string RootPath() override {
    if (d_.fail == "RootFolder") Throw("RootFolder");
    return Read("Path", to_system_(d_.root_path));
  }
  int64_t TotalSize() override { return Read("TotalSize", d_.total_size); }
  int64_t FreeSpace() override { return Read("FreeSpace", d_.free_space); }

  const SnapshotDrive& data() const { return d_; }

 private:
  template <typename T>
  T Read(const char* property, T value) const {
    if (d_.fail == property) Throw(property);
    return value;
  }
  [[noreturn]] void Throw(const char* property) const {
    throw Error(ErrorKind::kPlatform, "drive " + d_.letter + ": reading " + property + " failed");
  }

  const SnapshotDrive& d_;
  const ToSystem& to_system_;
};

class SnapshotDriveList : public DriveList {
 public:
  SnapshotDriveList(const std::vector<SnapshotDrive>& drives, const ToSystem& to_system) {
    for (const auto& d : drives) {
      if (d.fail == "Drives") {
        throw Error(ErrorKind::kPlatform, "drive " + d.letter + ": reading Drives failed");
      }
      drives_.push_back(std::make_unique<SnapshotDriveObject>(d, to_system));
    }
  }
  std::vector<Drive*> Drives() override {
    std::vector<Drive*> out;
    for (auto& d : drives_) out.push_back(d.get());
    return out;
  }
  int32_t Count() override {
    for (auto& d : drives_) {
      if (d->data().fail == "Count") {
        throw Error(ErrorKind::kPlatform, "drive " + d->data().letter + ": reading Count failed");
      }
    }
    return static_cast<int32_t>(drives_.size());
  }

 private:
  std::vector<std::unique_ptr<SnapshotDriveObject>> drives_;
};

class SnapshotDriveSource : public DriveSource {
 public:
  SnapshotDriveSource(std::vector<SnapshotDrive> drives, ToSystem to_system)
      : drives_(std::move(drives)), to_system_(std::move(to_system)) {}
  std::unique_ptr<DriveList> Open() override { return std::make_unique<SnapshotDriveList>(drives_, to_system_); }
  const std::vector<SnapshotDrive>& drives() const { return drives_; }

 private:
  std::vector<SnapshotDrive> drives_;
  ToSystem to_system_;
};

class SnapshotProbeLoader : public ProbeLoader {
 public:
  explicit SnapshotProbeLoader(SnapshotProbes probes) : probes_(probes) {}
  ProbeTable Load() override {
    if (!probes_.loadable) {
      throw Error(ErrorKind::kProbeLibrary, "cannot load the probe library vmware.dll");
    }
    ProbeTable table;
    for (int i = 0; i < kProbeCount; ++i) {
      if (!probes_.results[i]) {
        throw Error(ErrorKind::kProbeLibrary, std::string("the probe library vmware.dll has no routine ") +
                                                  ProbeName(static_cast<Probe>(i)));
      }
      const int16_t value = *probes_.results[i];
      table[i] = [value] { return value; };
    }
    return table;
  }
  const SnapshotProbes& probes() const { return probes_; }

 private:
  SnapshotProbes probes_;
};

// Fixed texts from the snapshot where it has them, the live clock otherwise.
class SnapshotClock : public Clock {
 public:
  SnapshotClock(std::optional<std::string> timestamp, std::optional<std::string> separator,
                std::unique_ptr<Clock> live, ToSystem to_system)
      : timestamp_(std::move(timestamp)),
        separator_(std::move(separator)),
        live_(std::move(live)),
        to_system_(std::move(to_system)) {}
  std::string GeneralDate() override { return timestamp_ ? to_system_(*timestamp_) : live_->GeneralDate(); }
  std::string ThousandsSeparator() override {
    return separator_ ? to_system_(*separator_) : live_->ThousandsSeparator();
  }
  const std::optional<std::string>& timestamp() const { return timestamp_; }
  const std::optional<std::string>& separator() const { return separator_; }

 private:
  std::optional<std::string> timestamp_;
  std::optional<std::string> separator_;
  std::unique_ptr<Clock> live_;
  ToSystem to_system_;
};

}  // namespace

std::optional<std::string> FixedTimestamp(const Clock& clock) {
  const auto* snapshot = dynamic_cast<const SnapshotClock*>(&clock);
  return snapshot ? snapshot->timestamp() : std::nullopt;
}

std::optional<std::string> FixedThousandsSeparator(const Clock& clock) {
  const auto* snapshot = dynamic_cast<const SnapshotClock*>(&clock);
  return snapshot ? snapshot->separator() : std::nullopt;
}

const std::vector<SnapshotDrive>* ReplayedDrives(const DriveSource& source) {
  const auto* snapshot = dynamic_cast<const SnapshotDriveSource*>(&source);
  return snapshot ? &snapshot->drives() : nullptr;
}

const SnapshotProbes* ReplayedProbes(const ProbeLoader& loader) {
  const auto* snapshot = dynamic_cast<const SnapshotProbeLoader*>(&loader);
  return snapshot ? &snapshot->probes() : nullptr;
}

Platform MakeSnapshotPlatform(SnapshotData data, SnapshotHost host) {
  // A text that is not UTF-8 came as {"bytes": ...}: those are the system's
  // bytes already, and go to the reports as they are.
  host.utf8_to_system = [to_system = std::move(host.utf8_to_system)](std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
      if (ReadUtf8(text, &at) == kNotUtf8) return std::string(text);
    }
    return to_system(text);
  };
  Platform p;
  p.adapters = std::make_unique<SnapshotAdapterApi>(std::move(data.adapters));
  p.interfaces = std::make_unique<SnapshotInterfaceTableApi>(std::move(data.interfaces));
  p.drives = std::make_unique<SnapshotDriveSource>(std::move(data.drives), host.utf8_to_system);
  p.probes = std::make_unique<SnapshotProbeLoader>(data.probes);
  p.log = std::move(host.log);
  p.clock = std::make_unique<SnapshotClock>(std::move(data.timestamp), std::move(data.thousands_separator),
                                            std::move(host.clock), std::move(host.utf8_to_system));
  return p;
}

}  // namespace hostprobe
