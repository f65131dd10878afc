#include "platform/linux/drives_linux.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "drives/drives_report.h"
#include "platform/error.h"
#include "platform/linux/linux_sources.h"
#include "platform/snapshot/snapshot.h"
#include "test_util.h"

namespace hostprobe::linuxdrives {
namespace {

namespace fs = std::filesystem;

auto Fields(const MountEntry& e) { return std::tie(e.major, e.minor, e.root, e.mount_point, e.fstype, e.source); }

MountEntry Mount(uint32_t major, uint32_t minor, const std::string& point, const std::string& type,
                 const std::string& source, const std::string& root = "/") {
  MountEntry e;
  e.major = major;
  e.minor = minor;
  e.root = root;
  e.mount_point = point;
  e.fstype = type;
  e.source = source;
  return e;
}

std::string MountInfoLine(const MountEntry& e) {
  return "1 1 " + std::to_string(e.major) + ":" + std::to_string(e.minor) + " " + e.root + " " + e.mount_point +
         " rw,relatime shared:1 - " + e.fstype + " " + e.source + " rw\n";
}

TEST(LinuxDrivesTest, ParsesTheMountTable) {
  const std::string text =
      "27 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw,discard\n"
      "garbage line\n"
      "28 27 0:25 /sub /mnt/with\\040space\\134x ro - fuse.sshfs u@host:/home/u rw\n"
      "29 27 8:1 / /short rw -\n"
      "30 27 0:26 / /no\\07 rw - tmpfs tmpfs rw";
  const auto got = ParseMountInfo(text);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(Fields(got[0]), Fields(Mount(254, 0, "/", "ext4", "/dev/vda")));
  EXPECT_EQ(Fields(got[1]), Fields(Mount(0, 25, "/mnt/with space\\x", "fuse.sshfs", "u@host:/home/u", "/sub")));
  EXPECT_EQ(Fields(got[2]), Fields(Mount(0, 26, "/no\\07", "tmpfs", "tmpfs")));
}

// A statvfs over fixed figures by path; paths not listed fail with EACCES, and
// `hang` blocks until Release().
class FakeStat {
 public:
  explicit FakeStat(std::map<std::string, FsFigures> figures, std::string hang = "")
      : state_(std::make_shared<State>()) {
    state_->figures = std::move(figures);
    state_->hang = std::move(hang);
  }
  ~FakeStat() { Release(); }
  void Release() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
    state_->cv.notify_all();
  }
  StatFs Fn() const {
    return [state = state_](const std::string& path, FsFigures* out) {
      if (path == state->hang) {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->cv.wait(lock, [&] { return state->released; });
        return EIO;
      }
      const auto it = state->figures.find(path);
      if (it == state->figures.end()) return EACCES;
      *out = it->second;
      return 0;
    };
  }

 private:
  struct State {
    std::map<std::string, FsFigures> figures;
    std::string hang;
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;
  };
  std::shared_ptr<State> state_;
};

TEST(LinuxDrivesTest, SelectsTheMountsDfShows) {
  const std::vector<MountEntry> all = {
      Mount(0, 20, "/proc", "proc", "proc"),
      Mount(8, 1, "/", "ext4", "/dev/sda1"),
      Mount(0, 23, "/dev/shm", "tmpfs", "tmpfs"),
      Mount(0, 30, "/sys/fs/cgroup/unified", "cgroup2", "cgroup2"),
      Mount(0, 31, "/run/empty", "tmpfs", "tmpfs"),        // no blocks
      Mount(8, 1, "/srv/bind/deeper", "ext4", "/dev/sda1", "/srv"),  // bind of /: longer point, dropped
      Mount(0, 40, "/mnt/a", "nfs4", "server:/a"),
      Mount(0, 40, "/mnt/b", "nfs4", "server:/b"),          // same device, another export: kept
      Mount(0, 40, "/mnt/a2", "nfs4", "server:/a"),         // same export again: dropped
      Mount(0, 27, "/dev/shm", "ramfs", "none"),            // overmount: shows in the first place
      Mount(8, 2, "/boot/efi/x", "vfat", "box"),
      Mount(8, 2, "/efi", "vfat", "box"),                   // nearer the root: replaces /boot/efi/x
      Mount(0, 50, "/mnt/gone", "cifs", "//s/gone"),        // statvfs fails: kept
  };
  const FsFigures some{100, 50, 4096};
  FakeStat stat({{"/", some}, {"/dev/shm", some}, {"/sys/fs/cgroup/unified", some}, {"/run/empty", {0, 0, 4096}},
                 {"/srv/bind/deeper", some}, {"/mnt/a", some}, {"/mnt/b", some}, {"/mnt/a2", some},
                 {"/boot/efi/x", some}, {"/efi", some}});
  BoundedStatFs bounded(stat.Fn(), std::chrono::seconds(5));
  const auto got = SelectMounts(all, bounded);
  const std::vector<MountEntry> expected = {
      Mount(8, 1, "/", "ext4", "/dev/sda1"),   Mount(0, 27, "/dev/shm", "ramfs", "none"),
      Mount(0, 40, "/mnt/a", "nfs4", "server:/a"), Mount(0, 40, "/mnt/b", "nfs4", "server:/b"),
      Mount(8, 2, "/efi", "vfat", "box"),      Mount(0, 50, "/mnt/gone", "cifs", "//s/gone"),
  };
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(Fields(got[i]), Fields(expected[i])) << i;
}

TEST(LinuxDrivesTest, SerialFromUuid) {
  const std::pair<const char*, int32_t> cases[] = {
      {"1234-ABCD", 0x1234ABCD},
      {"abcd-0001", static_cast<int32_t>(0xABCD0001u)},
      {"f3a1b2c4-5d6e-4f70-8192-a3b4c5d6e7f8", static_cast<int32_t>(0xF3A1B2C4u)},
      {"0A1B2C3D4E5F6789", 0x0A1B2C3D},
      {"", 0},
      {"12-34", 0},
      {"12G4-5678", 0},
  };
  for (const auto& [uuid, serial] : cases) EXPECT_EQ(SerialFromUuid(uuid), serial) << uuid;
}

void Put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  testing::WriteFile(path, text);
}

void Link(const fs::path& link, const std::string& target) {
  fs::create_directories(link.parent_path());
  fs::create_directory_symlink(target, link);
}

void FileLink(const fs::path& link, const std::string& target) {
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
}

// A block device in a fake sysfs: /sys/dev/block/M:m leads to `device_dir`
// (under /sys/devices), a partition of the disk above it when `partition`.
void SysBlock(const fs::path& root, const std::string& number, const std::string& device_dir, bool partition,
              const std::string& removable = "0") {
  const fs::path dir = root / "sys/devices" / device_dir;
  fs::create_directories(dir);
  const fs::path disk = partition ? dir.parent_path() : dir;
  Put(disk / "removable", removable + "\n");
  if (partition) Put(dir / "partition", "1\n");
  Link(root / "sys/dev/block" / number, "../../devices/" + device_dir);
}

TEST(LinuxDrivesTest, ReportsAFakeMachine) {
  testing::ScratchDir dir;
  const fs::path root = dir.path();
  const std::vector<MountEntry> mounts = {
      Mount(8, 1, "/", "ext4", "/dev/sda1"),
      Mount(0, 20, "/proc", "proc", "proc"),
      Mount(8, 17, "/media/stick", "vfat", "/dev/sdb1"),
      Mount(179, 1, "/media/card", "exfat", "/dev/mmcblk0p1"),
      Mount(8, 33, "/data", "xfs", "/dev/sdc1"),
      Mount(11, 0, "/media/cdrom", "iso9660", "/dev/sr0"),
      Mount(252, 0, "/var/cache", "ext4", "/dev/zram0"),
      Mount(0, 40, "/mnt/nfs", "nfs4", "server:/export"),
      Mount(0, 41, "/mnt/share", "cifs", "//server/share"),
      Mount(0, 42, "/home/u/remote", "fuse.sshfs", "u@host:/home/u"),
      Mount(0, 43, "/tmp", "tmpfs", "tmpfs"),
      Mount(0, 44, "/merged", "overlay", "overlay"),
      Mount(0, 45, "/mnt/hung", "nfs", "gone:/x"),
  };
  std::string table;
  for (const auto& m : mounts) table += MountInfoLine(m);
  Put(root / "proc/self/mountinfo", table);

  SysBlock(root, "8:1", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1", true);
  Put(root / "run/udev/data/b8:1", "S:disk/by-uuid/x\nE:ID_FS_LABEL=root_fs\nE:ID_FS_LABEL_ENC=root\\x20fs\n"
                                   "E:ID_FS_UUID=f3a1b2c4-5d6e-4f70-8192-a3b4c5d6e7f8\n");
  SysBlock(root, "8:17", "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1",
           true);
  Put(root / "dev/sdb1", "");
  FileLink(root / "dev/disk/by-label/STICK\\x20A", "../../sdb1");
  FileLink(root / "dev/disk/by-uuid/1234-ABCD", "../../sdb1");
  Put(root / "dev/sdc1", "");
  FileLink(root / "dev/disk/by-uuid/0000-0001", "../../sdc1");
  SysBlock(root, "179:1", "platform/soc/mmc_host/mmc0/mmc0:0001/block/mmcblk0/mmcblk0p1", true);
  Put(root / "run/blkid/blkid.tab",
      "<device DEVNO=\"0x0811\" TIME=\"1.2\" LABEL=\"NOT OURS\" UUID=\"FFFF-FFFF\">/dev/sdz1</device>\n"
      "<device DEVNO=\"0xb301\" TIME=\"1.2\" LABEL=\"CARD\" UUID=\"ABCD-0001\" TYPE=\"exfat\">/dev/mmcblk0p1</device>\n");
  SysBlock(root, "8:33", "pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/block/sdc/sdc1", true, "1");
  SysBlock(root, "11:0", "pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0/block/sr0", false, "1");
  Put(root / "run/udev/data/b11:0", "E:ID_FS_LABEL=DVD\nE:ID_FS_UUID=2023-01-10-12-00-00-00\n");
  SysBlock(root, "252:0", "virtual/block/zram0", false);

  auto f = [](uint64_t blocks, uint64_t bavail, uint64_t frsize) { return FsFigures{blocks, bavail, frsize}; };
  FakeStat stat({{"/", f(1000000, 250000, 4096)},      {"/media/stick", f(7800000, 7800000, 1024)},
                 {"/media/card", f(100, 0, 131072)},     {"/data", f(3, 1, 512)},
                 {"/media/cdrom", f(2000000, 0, 2048)},  {"/var/cache", f(1000, 999, 4096)},
                 {"/mnt/nfs", f(1ull << 40, 1ull << 39, 1024)}, {"/mnt/share", f(10, 5, 1000)},
                 {"/home/u/remote", f(1, 1, 4096)},      {"/tmp", f(500, 500, 4096)},
                 {"/merged", f(2, 1, 4096)},             {"/proc", f(0, 0, 4096)}},
                "/mnt/hung");
  Config config;
  config.root = root.string();
  config.stat = stat.Fn();
  config.bound = std::chrono::milliseconds(1000);
  auto source = MakeDriveSource(config);

  auto block = [](const std::string& header, const std::string& fs, const std::string& serial,
                  const std::string& share, const std::string& path, const std::string& total,
                  const std::string& used, const std::string& free) {
    return header + "\r\n     File System Type - " + fs + "\r\n     SerialNumber - " + serial +
           "\r\n     ShareName - " + share + "\r\n     Root Folder - " + path +
           "\r\n     Total Bytes Available - " + total + "\r\n     Bytes Used - " + used +
           "\r\n     Free Space Available - " + free + "\r\n";
  };
  const std::string expected =
      block("root fs (/:) Information     Drive Type is Fixed", "ext4", "-207506748", "", "/", "4,096,000,000",
            "3,072,000,000", "1,024,000,000") +
      block("STICK A (/media/stick:) Information     Drive Type is Removable", "vfat", "305441741", "",
            "/media/stick", "7,987,200,000", "", "7,987,200,000") +
      block("CARD (/media/card:) Information     Drive Type is Removable", "exfat", "-1412628479", "",
            "/media/card", "13,107,200", "13,107,200", "") +
      block("No Volume Name On (/data:) Information     Drive Type is Removable", "xfs", "1", "", "/data",
            "1,536", "1,024", "512") +
      block("DVD (/media/cdrom:) Information     Drive Type is CD-ROM", "iso9660", "539164944", "",
            "/media/cdrom", "4,096,000,000", "4,096,000,000", "") +
      block("No Volume Name On (/var/cache:) Information     Drive Type is RAM Disk", "ext4", "0", "",
            "/var/cache", "4,096,000", "4,096", "4,091,904") +
      block("No Volume Name On (/mnt/nfs:) Information     Drive Type is Network", "nfs4", "0", "server:/export",
            "/mnt/nfs", "1,125,899,906,842,624", "562,949,953,421,312", "562,949,953,421,312") +
      block("No Volume Name On (/mnt/share:) Information     Drive Type is Network", "cifs", "0", "//server/share",
            "/mnt/share", "10,000", "5,000", "5,000") +
      block("No Volume Name On (/home/u/remote:) Information     Drive Type is Network", "fuse.sshfs", "0",
            "u@host:/home/u", "/home/u/remote", "4,096", "", "4,096") +
      block("No Volume Name On (/tmp:) Information     Drive Type is RAM Disk", "tmpfs", "0", "", "/tmp",
            "2,048,000", "", "2,048,000") +
      block("No Volume Name On (/merged:) Information     Drive Type is Unknown", "overlay", "0", "", "/merged",
            "8,192", "4,096", "4,096") +
      " (/mnt/hung:)     Drive Not Ready\r\n"
      "\r\nSYSTEM INFORMATION\r\n\r\nNumber of Drives - 12\r\n     1 - Unknown Drives\r\n"
      "     3 - Removable Drives\r\n     1 - Fixed Drives\r\n     3 - NetWork Drives\r\n     1 - CD-ROM Drives\r\n"
      "     2 - RAM-Disk Drives\r\nTotal Bytes - 1,125,916,105,318K\r\nUsed Bytes - 562,957,134,543K\r\n"
      "Free Bytes - 562,958,970,775K\r\n";
  EXPECT_EQ(GetDrivesReport(*source, ","), expected);

  // The hung mount still does not answer: a size read fails, and at once.
  auto list = source->Open();
  Drive* hung = list->Drives().back();
  ASSERT_EQ(hung->DriveLetter(), "/mnt/hung");
  EXPECT_FALSE(hung->IsReady());
  try {
    hung->TotalSize();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kPlatform);
    EXPECT_STREQ(e.what(), "platform call failed: drive /mnt/hung: reading TotalSize failed: no answer within 1000 ms");
  }
}

// --- The live machine against df -----------------------------------------

struct DfRow {
  std::string fstype;
  int64_t size = 0;
  int64_t avail = 0;
};

// `df -B1 --output=target,fstype,size,avail` by target; nullopt without df.
std::optional<std::map<std::string, DfRow>> RunDf() {
  FILE* p = popen("df -B1 --output=target,fstype,size,avail 2>/dev/null", "r");
  if (!p) return std::nullopt;
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  const int status = pclose(p);
  if (out.empty() && status != 0) return std::nullopt;
  std::map<std::string, DfRow> rows;
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::vector<std::string> words;
    std::istringstream w(line);
    for (std::string s; w >> s;) words.push_back(s);
    if (words.size() < 4) continue;
    DfRow row{words[words.size() - 3], std::stoll(words[words.size() - 2]), std::stoll(words.back())};
    const std::size_t end = line.rfind(words[words.size() - 3]);
    std::string target = line.substr(0, end);
    while (!target.empty() && target.back() == ' ') target.pop_back();
    rows[target] = row;
  }
  return rows;
}

int64_t Digits(const std::string& grouped) {
  std::string d;
  for (char c : grouped) {
    if (c >= '0' && c <= '9') d += c;
  }
  return d.empty() ? 0 : std::stoll(d);
}

// The ready drives of a report made with "," as separator: mount point,
// file system, total and free bytes.
std::vector<std::tuple<std::string, std::string, int64_t, int64_t>> ReadyDrives(const std::string& report) {
  std::vector<std::tuple<std::string, std::string, int64_t, int64_t>> out;
  std::istringstream lines(report);
  std::string line, fstype, root;
  int64_t total = 0;
  auto value = [&](const char* label) { return line.substr(line.find(label) + std::strlen(label)); };
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find("     File System Type - ") == 0) fstype = value("File System Type - ");
    if (line.find("     Root Folder - ") == 0) root = value("Root Folder - ");
    if (line.find("     Total Bytes Available - ") == 0) total = Digits(value("Total Bytes Available - "));
    if (line.find("     Free Space Available - ") == 0) {
      out.emplace_back(root, fstype, total, Digits(value("Free Space Available - ")));
    }
  }
  return out;
}

TEST(LinuxDrivesLiveTest, AgreesWithDf) {
  auto source = MakeLinuxDriveSource();
  const std::string report = GetDrivesReport(*source, ",");
  const auto df = RunDf();
  if (!df) GTEST_SKIP() << "df is not available";
  const auto drives = ReadyDrives(report);
  std::cout << "live drive record vs df -B1 --output=target,fstype,size,avail\n";
  for (const auto& [root, fstype, total, free] : drives) {
    const auto it = df->find(root);
    std::cout << "  " << root << "  " << fstype << " " << total << " " << free << "  |  ";
    if (it == df->end()) {
      std::cout << "(not in df)\n";
    } else {
      std::cout << it->second.fstype << " " << it->second.size << " " << it->second.avail << "\n";
    }
    ASSERT_NE(it, df->end()) << root << " is not listed by df";
    EXPECT_EQ(fstype, it->second.fstype) << root;
    // Sizes move on a busy file system between the two reads: allow 1% of it
    // or 1 MiB, whichever is more.
    const int64_t slack = std::max<int64_t>(total / 100, 1 << 20);
    EXPECT_LE(std::llabs(total - it->second.size), slack) << root;
    EXPECT_LE(std::llabs(free - it->second.avail), slack) << root;
  }
  auto list = source->Open();
  std::set<std::string> listed;
  for (Drive* d : list->Drives()) listed.insert(d->DriveLetter());
  for (const auto& [target, row] : *df) EXPECT_TRUE(listed.count(target)) << target << " is missing";
}

TEST(LinuxDrivesLiveTest, CaptureHoldsTheLiveDrives) {
  testing::ScratchDir dir;
  const auto r = testing::RunCliCapture({"--capture", "live.json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const SnapshotData captured = ReadSnapshotFile("live.json");
  auto list = MakeLinuxDriveSource()->Open();
  const auto drives = list->Drives();
  ASSERT_EQ(captured.drives.size(), drives.size());
  for (std::size_t i = 0; i < drives.size(); ++i) {
    EXPECT_EQ(captured.drives[i].letter, drives[i]->DriveLetter());
    EXPECT_EQ(captured.drives[i].root_path, drives[i]->RootPath());
    if (captured.drives[i].ready) {
      EXPECT_EQ(captured.drives[i].file_system, drives[i]->FileSystem());
    }
  }
}

}  // namespace
}  // namespace hostprobe::linuxdrives
