// The live drive source: mounted file systems, their kind and identity from
// sysfs, udev's database, /dev/disk and libblkid's cache, their sizes from
// statfs, asked through a helper process where the mount may never answer.
#include "platform/linux/drives_linux.h"
#include "platform/linux/blkid_probe_linux.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "platform/error.h"
#include "platform/hex_digit.h"
#include "platform/linux/linux_sources.h"
#include "platform/linux/root/linux_root.h"

namespace hostprobe {
namespace linux_drives {
namespace {

namespace fs = std::filesystem;

// udev's and /dev/disk's escaping: \xNN for each unsafe byte.
std::string DecodeHexEscapes(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && HexDigitValue(s[i + 2]) >= 0 && HexDigitValue(s[i + 3]) >= 0) {
      out += static_cast<char>(HexDigitValue(s[i + 2]) * 16 + HexDigitValue(s[i + 3]));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

using Device = DeviceNumber;

struct Identity {
  int32_t type = 0;
  std::string label;
  int32_t serial = 0;
  std::string fs_type;  // the file system's own type, where known (for fuseblk)
};

// The names of a file system, from one of the places that keep them.
struct Names {
  std::string type, label, uuid;
};

class DeviceLookup {
 public:
  DeviceLookup(const LinuxRoot& root, const MountEntry& mount) : root_(root), m_(mount) {}

  Identity Identify() {
    Identity id;
    device_ = BlockDevice();
    id.type = Type();
    if (device_) {
      const Names names = Find();
      id.label = names.label;
      id.fs_type = names.type;
      id.serial = SerialFromUuid(names.uuid, names.type.empty() ? m_.fstype : names.type);
    }
    return id;
  }

 private:
  // The block device under the mount: the source's device node where it is
  // one (btrfs and the like show an anonymous number in the mount table),
  // else the mount table's number where sysfs knows it as a block device.
  std::optional<Device> BlockDevice() const {
    if (m_.source.starts_with("/dev/")) {
      if (const std::optional<Device> node = root_.BlockDevice(m_.source)) return node;
    }
    if (m_.major != 0 && root_.Exists(SysBlock(m_.major, m_.minor))) return Device{m_.major, m_.minor};
    return std::nullopt;
  }

  std::string SysBlock(uint32_t major, uint32_t minor) const {
    return "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  }

  int32_t Type() const {
    if (IsRemoteMount(m_)) return 3;
    if (m_.fstype == "tmpfs" || m_.fstype == "ramfs" || m_.fstype == "devtmpfs") return 5;
    if (m_.fstype == "iso9660" || m_.fstype == "udf") return 4;
    // A container's root: a union of directories on the host's disks.
    if (m_.fstype == "overlay") return 2;
    if (!device_) return 0;
    const std::optional<std::string> sys = root_.Canonical(SysBlock(device_->major, device_->minor));
    if (!sys) return 2;
    fs::path dir = *sys;
    if (root_.Exists((dir / "partition").string())) dir = dir.parent_path();
    if (dir.filename().string().starts_with("zram")) return 5;
    if (auto removable = root_.Read((dir / "removable").string()); removable && removable->starts_with("1")) return 1;
    for (const auto& part : dir) {
      const std::string p = part.string();
      const bool firewire = p == "firewire" || (p.starts_with("fw") && p.size() > 2 && HexDigitValue(p[2]) >= 0 &&
                                                 p[2] <= '9');
      if (p.starts_with("usb") || p.starts_with("mmc") || firewire) return 1;
    }
    return 2;
  }

  // The names, from the first place that knows them: the file system on
  // its device, read now; udev's database and its /dev/disk links; libblkid's
  // cache. The places after the device may be stale or missing (a
  // container has neither udev nor the cache).
  Names Find() const {
    if (auto probed = Probe()) return {probed->type, probed->label, probed->uuid};
    Names n;
    UdevNames(&n.label, &n.uuid, &n.type);
    if (n.label.empty()) n.label = DiskLink("by-label");
    if (n.uuid.empty()) n.uuid = DiskLink("by-uuid");
    if (n.label.empty() && n.uuid.empty()) {
      std::string type;
      BlkidCacheNames(&n.label, &n.uuid, &type);
      if (n.type.empty()) n.type = type;
    }
    return n;
  }

  // The device node itself, where this process may read it.
  std::optional<ProbedNames> Probe() const {
    for (const std::string& node : {m_.source, "/dev/block/" + std::to_string(device_->major) + ":" +
                                                   std::to_string(device_->minor)}) {
      if (!node.starts_with("/dev/") || root_.BlockDevice(node) != device_) continue;
      return ProbeFileSystem(root_.Path(node));
    }
    return std::nullopt;
  }

  void UdevNames(std::string* label, std::string* uuid, std::string* type) const {
    const auto text =
        root_.Read("/run/udev/data/b" + std::to_string(device_->major) + ":" + std::to_string(device_->minor));
    if (!text) return;
    std::map<std::string, std::string> env;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("E:")) continue;
      const auto eq = line.find('=');
      if (eq != std::string::npos) env[line.substr(2, eq - 2)] = line.substr(eq + 1);
    }
    auto pick = [&](const char* encoded, const char* plain) {
      if (env.count(encoded)) return DecodeHexEscapes(env[encoded]);
      return env.count(plain) ? env[plain] : std::string();
    };
    *label = pick("ID_FS_LABEL_ENC", "ID_FS_LABEL");
    *uuid = pick("ID_FS_UUID_ENC", "ID_FS_UUID");
    *type = pick("ID_FS_TYPE", "ID_FS_TYPE");
  }

  // Whether the node at `node` (a path of the machine) is our device.
  bool IsOurDevice(const std::string& node) const { return root_.BlockDevice(node) == device_; }

  // The decoded name of the link in /dev/disk/<kind> that leads to our device.
  std::string DiskLink(const char* kind) const {
    const std::string dir = std::string("/dev/disk/") + kind + "/";
    for (const std::string& name : root_.List(dir)) {
      if (IsOurDevice(dir + name)) return DecodeHexEscapes(name);
    }
    return "";
  }

  // libblkid's cache: <device DEVNO="0x0801" LABEL="..." UUID="..." ...>/dev/sda1</device>
  void BlkidCacheNames(std::string* label, std::string* uuid, std::string* type) const {
    const auto text = root_.Read("/run/blkid/blkid.tab");
    if (!text) return;
    const unsigned long long devno = makedev(device_->major, device_->minor);
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("<device ")) continue;
      const auto close = line.find('>');
      const auto end = line.find("</device>");
      if (close == std::string::npos || end == std::string::npos || end < close) continue;
      std::map<std::string, std::string> attrs;
      for (std::size_t i = 8; i < close;) {
        const auto eq = line.find("=\"", i);
        if (eq == std::string::npos || eq > close) break;
        const auto quote = line.find('"', eq + 2);
        if (quote == std::string::npos) break;
        std::string key = line.substr(i, eq - i);
        while (!key.empty() && key.front() == ' ') key.erase(0, 1);
        attrs[key] = line.substr(eq + 2, quote - eq - 2);
        i = quote + 1;
      }
      const std::string name = line.substr(close + 1, end - close - 1);
      bool ours = name == m_.source || IsOurDevice(name);
      if (!ours && attrs.count("DEVNO")) {
        try {
          ours = std::stoull(attrs["DEVNO"], nullptr, 0) == devno;
        } catch (const std::exception&) {
        }
      }
      if (ours) {
        *label = attrs["LABEL"];
        *uuid = attrs["UUID"];
        *type = attrs["TYPE"];
        return;
      }
    }
  }

  const LinuxRoot& root_;
  const MountEntry& m_;
  std::optional<Device> device_;
};

struct Context {
  Config config;
  MountProber prober;
  explicit Context(Config c) : config(std::move(c)), prober(config.probe, config.bound) {}

  std::vector<MountEntry> MountTable() const {
    const std::string path = config.root->Path("/proc/self/mountinfo");
    const auto text = ReadWholeFile(path);
    if (!text) throw Error(ErrorKind::kPlatform, "cannot read the mount table " + path);
    return ParseMountInfo(*text);
  }
};

class LinuxDrive : public Drive {
 public:
  LinuxDrive(ListedMount listed, std::shared_ptr<Context> context)
      : m_(std::move(listed.mount)), facts_(listed.facts), context_(std::move(context)) {}

  // Every figure of the drive comes from the one statfs of its listing, so
  // that its total, used and free sizes agree.
  bool IsReady() override { return facts_.statfs_error == 0; }
  std::string DriveLetter() override { return m_.mount_point; }
  std::string VolumeName() override { return Ident().label; }
  int32_t DriveType() override { return Ident().type; }
  // A FUSE block file system (ntfs-3g, exfat-fuse) by the type on its device.
  std::string FileSystem() override {
    if (m_.fstype == "fuseblk" && !Ident().fs_type.empty()) return Ident().fs_type;
    return m_.fstype;
  }
  int32_t SerialNumber() override { return Ident().serial; }
  std::string ShareName() override { return IsRemoteMount(m_) ? m_.source : ""; }
  std::string RootPath() override { return m_.mount_point; }
  // As the user sees them: the blocks in use plus those free for the user,
  // so that used = total - free leaves out the reserve of root.
  int64_t TotalSize() override {
    const FsFigures& f = Figures("TotalSize");
    const uint64_t used = f.blocks > f.bfree ? f.blocks - f.bfree : 0;
    uint64_t blocks;
    if (__builtin_add_overflow(used, f.bavail, &blocks)) Fail("TotalSize", "size out of range");
    return Bytes(blocks, f.frsize, "TotalSize");
  }
  int64_t FreeSpace() override {
    const FsFigures& f = Figures("FreeSpace");
    return Bytes(f.bavail, f.frsize, "FreeSpace");
  }

 private:
  const Identity& Ident() {
    if (!identity_) identity_ = DeviceLookup(*context_->config.root, m_).Identify();
    return *identity_;
  }

  const FsFigures& Figures(const char* property) {
    const int result = facts_.statfs_error;
    if (result == ETIMEDOUT) {
      Fail(property, "no answer within " + std::to_string(context_->prober.bound().count()) + " ms");
    }
    if (result != 0) Fail(property, std::strerror(result));
    return facts_.figures;
  }

  int64_t Bytes(uint64_t count, uint64_t unit, const char* property) {
    uint64_t bytes;
    if (__builtin_mul_overflow(count, unit, &bytes) || bytes > static_cast<uint64_t>(INT64_MAX)) {
      Fail(property, "size out of range");
    }
    return static_cast<int64_t>(bytes);
  }

  [[noreturn]] void Fail(const char* property, const std::string& why) {
    throw Error(ErrorKind::kPlatform, "drive " + m_.mount_point + ": reading " + property + " failed: " + why);
  }

  MountEntry m_;
  PathFacts facts_;
  std::shared_ptr<Context> context_;
  std::optional<Identity> identity_;
};

class LinuxDriveList : public DriveList {
 public:
  explicit LinuxDriveList(std::shared_ptr<Context> context) : context_(std::move(context)) {
    std::vector<ListedMount> listed = Select();
    taken_.reserve(listed.size());
    for (ListedMount& m : listed) {
      taken_.emplace(m.mount.mount_point, Taken{m.mount.id, m.facts});
      drives_.push_back(std::make_unique<LinuxDrive>(std::move(m), context_));
    }
  }
  std::vector<Drive*> Drives() override {
    std::vector<Drive*> out;
    for (auto& d : drives_) out.push_back(d.get());
    return out;
  }
  // The mount table is read afresh; a mount this listing has already asked
  // answers from then.
  int32_t Count() override { return static_cast<int32_t>(Select().size()); }

 private:
  struct Taken {
    uint32_t id;  // of the mount asked, topmost at its mount point
    PathFacts facts;
  };

  std::vector<ListedMount> Select() {
    const std::vector<MountEntry> table = context_->MountTable();
    std::unordered_map<std::string_view, uint32_t> ids;
    ids.reserve(table.size());
    for (const MountEntry& e : table) ids[e.mount_point] = e.id;  // the topmost
    return SelectMounts(table, [&](std::vector<MountProber::Ask>& asks) {
      std::vector<MountProber::Ask> fresh;
      std::vector<std::size_t> at;
      for (std::size_t i = 0; i < asks.size(); ++i) {
        const auto it = taken_.find(asks[i].path);
        if (it != taken_.end() && it->second.id == ids[asks[i].path]) {
          asks[i].facts = it->second.facts;
        } else {
          fresh.push_back(asks[i]);
          at.push_back(i);
        }
      }
      if (fresh.empty()) return;
      context_->prober.Run(fresh);
      for (std::size_t i = 0; i < fresh.size(); ++i) asks[at[i]].facts = fresh[i].facts;
    });
  }

  std::shared_ptr<Context> context_;
  std::unordered_map<std::string, Taken> taken_;
  std::vector<std::unique_ptr<LinuxDrive>> drives_;
};

class LinuxDriveSource : public DriveSource {
 public:
  explicit LinuxDriveSource(Config config) : context_(std::make_shared<Context>(std::move(config))) {}
  std::unique_ptr<DriveList> Open() override { return std::make_unique<LinuxDriveList>(context_); }

 private:
  std::shared_ptr<Context> context_;
};

}  // namespace

int32_t SerialFromUuid(std::string_view uuid, std::string_view fstype) {
  std::string digits;
  for (char c : uuid) {
    if (c == '-') continue;
    if (HexDigitValue(c) < 0) return 0;
    digits += c;
  }
  if (digits.size() < 8) return 0;
  // NTFS's serial is 64 bits (16 digits); Windows shows its low half.
  const bool ntfs = fstype == "ntfs" || fstype == "ntfs3" || fstype == "ntfs-3g";
  const std::string_view eight =
      ntfs && digits.size() == 16 ? std::string_view(digits).substr(8) : std::string_view(digits).substr(0, 8);
  uint32_t value = 0;
  for (char c : eight) value = value << 4 | static_cast<uint32_t>(HexDigitValue(c));
  return static_cast<int32_t>(value);
}

std::unique_ptr<DriveSource> MakeDriveSource(Config config) {
  return std::make_unique<LinuxDriveSource>(std::move(config));
}

}  // namespace linux_drives

std::unique_ptr<DriveSource> MakeLinuxDriveSource() { return linux_drives::MakeDriveSource({}); }

}  // namespace hostprobe
