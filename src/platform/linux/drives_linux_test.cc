#include "platform/linux/drives_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "drives/drives_report.h"
#include "platform/error.h"
#include "platform/linux/linux_sources.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "test_util.h"

namespace hostprobe::linux_drives {
namespace {

namespace fs = std::filesystem;

auto Fields(const MountEntry& e) {
  return std::tie(e.id, e.major, e.minor, e.root, e.mount_point, e.fstype, e.source);
}

MountEntry Mount(uint32_t major, uint32_t minor, const std::string& point, const std::string& type,
                 const std::string& source, const std::string& root = "/", uint32_t id = 0,
                 uint32_t parent = 0) {
  MountEntry e;
  e.id = id;
  e.parent = parent;
  e.major = major;
  e.minor = minor;
  e.root = root;
  e.mount_point = point;
  e.fstype = type;
  e.source = source;
  return e;
}

std::string MountInfoLine(const MountEntry& e) {
  return std::to_string(e.id) + " " + std::to_string(e.parent) + " " + std::to_string(e.major) + ":" + std::to_string(e.minor) + " " + e.root +
         " " + e.mount_point + " rw,relatime shared:1 - " + e.fstype + " " + e.source + " rw\n";
}

TEST(LinuxDrivesTest, ParsesTheMountTable) {
  const std::string text =
      "27 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw,discard\n"
      "garbage line\n"
      "28 27 0:25 /sub /mnt/with\\040space\\134x ro - fuse.sshfs u@host:/home/u rw\n"
      "29 27 8:1 / /short rw -\n"
      "3x 27 8:1 / /bad-id rw - ext4 /dev/sda1 rw\n"
      "30 27 0:26 / /no\\07 rw - tmpfs tmpfs rw\n"
      // Only the kernel's four escapes are decoded; CR, VT, FF, a TAB it
      // would have escaped and any other backslash stay in their field.
      "31 27 0:27 / /a\rb\vc\fd\te\\101\\011\\012 rw - tmpfs host:share rw\n"
      "32 x7 0:28 / /bad-parent rw - tmpfs tmpfs rw\n";
  const auto got = ParseMountInfo(text);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(Fields(got[0]), Fields(Mount(254, 0, "/", "ext4", "/dev/vda", "/", 27, 1)));
  EXPECT_EQ(Fields(got[1]), Fields(Mount(0, 25, "/mnt/with space\\x", "fuse.sshfs", "u@host:/home/u", "/sub", 28, 27)));
  EXPECT_EQ(Fields(got[2]), Fields(Mount(0, 26, "/no\\07", "tmpfs", "tmpfs", "/", 30, 27)));
  EXPECT_EQ(Fields(got[3]), Fields(Mount(0, 27, "/a\rb\vc\fd\te\\101\t\n", "tmpfs", "host:share", "/", 31, 27)));
  std::vector<uint32_t> parents;
  for (const MountEntry& e : got) parents.push_back(e.parent);
  EXPECT_EQ(parents, (std::vector<uint32_t>{1, 27, 27, 27}));
}

TEST(LinuxDrivesTest, AsksOnlyKnownLocalFileSystemsDirectly) {
  const std::pair<const char*, bool> cases[] = {
      {"ext4", true},       {"ext2", true},      {"xfs", true},      {"btrfs", true},   {"f2fs", true},
      {"vfat", true},       {"exfat", true},     {"ntfs3", true},    {"iso9660", true}, {"udf", true},
      {"tmpfs", true},      {"ramfs", true},     {"devtmpfs", true}, {"overlay", true}, {"squashfs", true},
      {"zfs", true},        {"nfs", false},      {"nfs4", false},    {"cifs", false},   {"smb3", false},
      {"smbfs", false},     {"9p", false},       {"ceph", false},    {"glusterfs", false}, {"afs", false},
      {"lustre", false},    {"fuse", false},     {"fuseblk", false}, {"fuse.sshfs", false},
      {"fuse.ext4", false}, {"virtiofs", false}, {"ocfs2", false},   {"gfs2", false},   {"", false},
      {"EXT4", false},      {"ext4x", false},
  };
  for (const auto& [type, local] : cases) EXPECT_EQ(IsLocalFileSystem(type), local) << type;
}

// Answers asks from a table by path (no helper processes); paths not in it
// fail with EACCES. Records which paths were asked, and how.
class TableFacts {
 public:
  explicit TableFacts(std::map<std::string, PathFacts> facts) : facts_(std::move(facts)) {}
  AskFacts Fn() {
    return [this](std::vector<MountProber::Ask>& asks) {
      for (auto& a : asks) {
        (a.local ? local_ : helped_).insert(a.path);
        const auto it = facts_.find(a.path);
        if (it != facts_.end()) {
          a.facts = it->second;
        } else {
          a.facts.stat_error = a.facts.statfs_error = EACCES;
        }
      }
    };
  }
  const std::set<std::string>& local() const { return local_; }
  const std::set<std::string>& helped() const { return helped_; }

 private:
  std::map<std::string, PathFacts> facts_;
  std::set<std::string> local_, helped_;
};

PathFacts Facts(uint64_t dev, uint64_t blocks = 100) {
  PathFacts f;
  f.dev = dev;
  f.figures = {blocks, blocks / 2, blocks / 2, 4096};
  return f;
}

std::vector<MountEntry> Entries(const std::vector<ListedMount>& listed) {
  std::vector<MountEntry> out;
  for (const auto& l : listed) out.push_back(l.mount);
  return out;
}

void ExpectMounts(const std::vector<MountEntry>& got, const std::vector<MountEntry>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(Fields(got[i]), Fields(expected[i])) << i;
}

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
      Mount(0, 50, "/mnt/gone", "cifs", "//s/gone"),        // stat and statfs fail: kept
  };
  TableFacts facts({{"/", Facts(0x801)}, {"/dev/shm", Facts(27)}, {"/run/empty", Facts(31, 0)},
                    {"/srv/bind/deeper", Facts(0x801)}, {"/mnt/a", Facts(40)}, {"/mnt/b", Facts(40)},
                    {"/mnt/a2", Facts(40)}, {"/boot/efi/x", Facts(0x802)}, {"/efi", Facts(0x802)}});
  const auto got = SelectMounts(all, facts.Fn());
  ExpectMounts(Entries(got), {
      Mount(8, 1, "/", "ext4", "/dev/sda1"),   Mount(0, 27, "/dev/shm", "ramfs", "none"),
      Mount(0, 40, "/mnt/a", "nfs4", "server:/a"), Mount(0, 40, "/mnt/b", "nfs4", "server:/b"),
      Mount(8, 2, "/efi", "vfat", "box"),      Mount(0, 50, "/mnt/gone", "cifs", "//s/gone"),
  });
  // The facts travel with their mount.
  EXPECT_EQ(got[4].facts.dev, 0x802u);
  EXPECT_EQ(got[5].facts.statfs_error, EACCES);
  // Pseudo file systems are not asked at all; only known local ones directly.
  EXPECT_EQ(facts.local(), (std::set<std::string>{"/", "/dev/shm", "/run/empty", "/srv/bind/deeper",
                                                  "/boot/efi/x", "/efi"}));
  EXPECT_EQ(facts.helped(), (std::set<std::string>{"/mnt/a", "/mnt/b", "/mnt/a2", "/mnt/gone"}));
}

// A Fedora-style machine: /, /home and /var are subvolumes of one btrfs, all
// with the mount table's one number 0:32 and each with a device of its own
// from stat(), plus bind mounts of the same and of other file systems.
TEST(LinuxDrivesTest, KeepsEverySubvolumeAndFileSystemOfABtrfsMachine) {
  const std::string mountinfo =
      "59 1 0:32 /root / rw,relatime shared:1 - btrfs /dev/vda3 rw,compress=zstd:1,subvolid=257,subvol=/root\n"
      "22 59 0:21 / /proc rw,nosuid shared:5 - proc proc rw\n"
      "63 59 0:32 /home /home rw,relatime shared:2 - btrfs /dev/vda3 rw,subvolid=256,subvol=/home\n"
      "65 59 0:32 /var /var rw,relatime shared:3 - btrfs /dev/vda3 rw,subvolid=258,subvol=/var\n"
      "70 59 252:2 / /boot rw,relatime shared:4 - ext4 /dev/vda2 rw\n"
      "71 65 0:32 /var/lib/machines /var/lib/machines rw shared:6 - btrfs /dev/vda3 rw,subvolid=260\n"
      "80 63 0:32 /home/u/src /srv/src rw,relatime shared:2 - btrfs /dev/vda3 rw,subvolid=256,subvol=/home\n"
      "81 59 252:2 /grub2 /mnt/grub rw,relatime shared:4 - ext4 /dev/vda2 rw\n"
      "82 59 0:45 / /run/user/1000 rw shared:9 - tmpfs tmpfs rw,size=400k\n"
      "83 59 0:45 / /mnt/user-tmp rw shared:9 - tmpfs tmpfs rw,size=400k\n"
      "84 59 0:32 /containers /srv/containers rw shared:10 - btrfs /dev/vda3 rw,subvolid=262,subvol=/containers\n"
      "90 59 0:50 / /mnt/unasked rw shared:11 - btrfs /dev/vdb1 rw\n"
      "91 59 0:50 / /mnt/unasked2 rw shared:11 - btrfs /dev/vdb1 rw\n";
  TableFacts facts({
      {"/", Facts(0x21)},                 // subvolume /root
      {"/home", Facts(0x22)},             // subvolume /home
      {"/var", Facts(0x23)},              // subvolume /var
      {"/boot", Facts(makedev(252, 2))},
      {"/var/lib/machines", Facts(0x24)}, // a nested subvolume
      {"/srv/src", Facts(0x22)},          // bind of a folder of /home: dropped
      {"/mnt/grub", Facts(makedev(252, 2))},  // bind of a folder of /boot: dropped
      {"/run/user/1000", Facts(45)},
      {"/mnt/user-tmp", Facts(45)},       // bind of /run/user/1000, nearer the root: replaces it
      {"/srv/containers", Facts(0x25)},   // another subvolume mounted elsewhere: kept
      // /mnt/unasked and /mnt/unasked2: stat fails, both kept
  });
  const auto got = SelectMounts(ParseMountInfo(mountinfo), facts.Fn());
  ExpectMounts(Entries(got), {
      Mount(0, 32, "/", "btrfs", "/dev/vda3", "/root", 59),
      Mount(0, 32, "/home", "btrfs", "/dev/vda3", "/home", 63),
      Mount(0, 32, "/var", "btrfs", "/dev/vda3", "/var", 65),
      Mount(252, 2, "/boot", "ext4", "/dev/vda2", "/", 70),
      Mount(0, 32, "/var/lib/machines", "btrfs", "/dev/vda3", "/var/lib/machines", 71),
      Mount(0, 45, "/mnt/user-tmp", "tmpfs", "tmpfs", "/", 83),
      Mount(0, 32, "/srv/containers", "btrfs", "/dev/vda3", "/containers", 84),
      Mount(0, 50, "/mnt/unasked", "btrfs", "/dev/vdb1", "/", 90),
      Mount(0, 50, "/mnt/unasked2", "btrfs", "/dev/vdb1", "/", 91),
  });
}

TEST(LinuxDrivesTest, SerialFromUuid) {
  const std::tuple<const char*, const char*, int32_t> cases[] = {
      {"1234-ABCD", "vfat", 0x1234ABCD},
      {"abcd-0001", "exfat", static_cast<int32_t>(0xABCD0001u)},
      {"f3a1b2c4-5d6e-4f70-8192-a3b4c5d6e7f8", "ext4", static_cast<int32_t>(0xF3A1B2C4u)},
      {"0A1B2C3D4E5F6789", "ext4", 0x0A1B2C3D},
      // NTFS: the low 32 bits of the 64-bit serial, as Windows shows 19D0-E9EE.
      {"0029225719D0E9EE", "ntfs", 433121774},
      {"0029225719D0E9EE", "ntfs3", 433121774},
      {"0029225719d0e9ee", "ntfs-3g", 433121774},
      {"F0E1D2C3B4A59687", "ntfs", static_cast<int32_t>(0xB4A59687u)},
      {"2023-01-10-12-00-00-00", "iso9660", 0x20230110},
      {"", "ext4", 0},
      {"12-34", "vfat", 0},
      {"12G4-5678", "vfat", 0},
      {"0029225719D0E9EG", "ntfs", 0},
  };
  for (const auto& [uuid, type, serial] : cases) EXPECT_EQ(SerialFromUuid(uuid, type), serial) << uuid << " " << type;
}

// Mounts that path resolution never reaches are left out, as df leaves them
// out; mounts stacked on one point show the topmost in the first place.
TEST(LinuxDrivesTest, LeavesOutCoveredMounts) {
  const std::string mountinfo =
      "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "21 20 0:30 / /mnt/a/b rw - tmpfs t1 rw\n"           // covered: 23 is mounted on /mnt/a later
      "22 21 0:31 / /mnt/a/b/c rw - tmpfs t2 rw\n"         // under a covered mount
      "23 20 0:32 / /mnt/a rw - tmpfs t3 rw\n"
      "24 23 0:33 / /mnt/a/b rw - tmpfs t4 rw\n"           // on the new /mnt/a: shown
      "25 20 0:34 / /srv rw - tmpfs t5 rw\n"
      "26 25 0:35 / /srv/x rw - tmpfs t6 rw\n"             // covered: 27 is stacked on /srv
      "27 25 0:36 / /srv rw - tmpfs t7 rw\n"               // stacked: shows in 25's place
      "28 27 0:37 / /srv/y rw - tmpfs t8 rw\n"             // on the top of the stack: shown
      "29 20 0:38 / /mnt/ab rw - tmpfs t9 rw\n"            // /mnt/a is not a directory above it
      "30 99 0:39 / /orphan rw - tmpfs t10 rw\n"           // parent unknown: shown
      "31 32 0:40 / /loop1 rw - tmpfs t11 rw\n"            // a cycle of parents: never reached
      "32 31 0:41 / /loop2 rw - tmpfs t12 rw\n";
  const std::vector<MountEntry> all = ParseMountInfo(mountinfo);
  ASSERT_EQ(all.size(), 13u);
  const std::vector<bool> expected = {false, true, true, false, false, false, true, false, false, false, false,
                                      true, true};
  EXPECT_EQ(CoveredMounts(all), expected);

  std::map<std::string, PathFacts> table;
  uint64_t dev = 100;
  for (const MountEntry& e : all) table[e.mount_point] = Facts(++dev);
  TableFacts facts(table);
  std::vector<std::string> shown;
  for (const ListedMount& m : SelectMounts(all, facts.Fn())) shown.push_back(m.mount.source);
  EXPECT_EQ(shown, (std::vector<std::string>{"/dev/sda1", "t3", "t4", "t7", "t8", "t9", "t10"}));
  // A covered mount is not even asked.
  EXPECT_FALSE(facts.local().count("/mnt/a/b/c"));
  EXPECT_FALSE(facts.local().count("/srv/x"));

  // Ids that are not unique: nothing can be told, nothing is covered.
  std::vector<MountEntry> same_ids = all;
  for (MountEntry& e : same_ids) e.id = 0;
  EXPECT_EQ(CoveredMounts(same_ids), std::vector<bool>(all.size(), false));
}

// Deeply nested mounts (each on the previous one) are walked without
// recursion, and a long stack does not cover the mounts above it.
TEST(LinuxDrivesTest, WalksDeepMountTrees) {
  std::string mountinfo = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
  for (int i = 2; i <= 50000; ++i) {
    mountinfo += std::to_string(i) + " " + std::to_string(i - 1) + " 0:" + std::to_string(i) + " / /d" +
                 std::to_string(i) + " rw - tmpfs t rw\n";
  }
  const auto all = ParseMountInfo(mountinfo);
  ASSERT_EQ(all.size(), 50000u);
  EXPECT_EQ(CoveredMounts(all), std::vector<bool>(all.size(), false));
}

// --- Helper processes ------------------------------------------------------

// A probe over a fixed table, fit to run in a helper process: it only reads
// memory set up before the helper forks and makes system calls. The `hang`
// path writes a byte to the `calls` file, then waits while the `hold` file
// exists (30 s at most, so that nothing outlives a failed test for long) and
// fails with EIO; the `vanish` path ends its process without an answer.
struct FakeProbeState {
  std::vector<std::pair<std::string, PathFacts>> table;
  std::string hang, vanish, hold, calls;
  int calls_here = 0;  // calls made in this process
};
FakeProbeState* fake = nullptr;

void FakeProbe(const char* path, PathFacts* out) {
  ++fake->calls_here;
  if (path == fake->hang) {
    const int fd = open(fake->calls.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (write(fd, "x", 1) != 1) _exit(2);
      close(fd);
    }
    const timespec tick{0, 20'000'000};
    for (int i = 0; i < 1500 && access(fake->hold.c_str(), F_OK) == 0; ++i) nanosleep(&tick, nullptr);
    out->stat_error = out->statfs_error = EIO;
    return;
  }
  if (path == fake->vanish) _exit(0);
  for (const auto& [p, facts] : fake->table) {
    if (p == path) {
      *out = facts;
      return;
    }
  }
  out->stat_error = out->statfs_error = EACCES;
}

// Installs the fake probe for one test in a scratch directory; on the way out
// lets a hung helper go.
class FakeProbeScope {
 public:
  FakeProbeScope(std::vector<std::pair<std::string, PathFacts>> table, std::string hang = "",
                 std::string vanish = "") {
    state_.table = std::move(table);
    state_.hang = std::move(hang);
    state_.vanish = std::move(vanish);
    state_.hold = (dir_.path() / "hold").string();
    state_.calls = (dir_.path() / "calls").string();
    testing::WriteFile(state_.hold, "");
    fake = &state_;
  }
  ~FakeProbeScope() {
    Release();
    fake = nullptr;
  }
  void Release() { fs::remove(state_.hold); }
  // How often the hang path was asked, in any process.
  std::size_t HangCalls() const {
    std::error_code ec;
    const auto n = fs::file_size(state_.calls, ec);
    return ec ? 0 : n;
  }
  int CallsHere() const { return state_.calls_here; }
  const fs::path& dir() const { return dir_.path(); }

 private:
  testing::ScratchDir dir_;
  FakeProbeState state_;
};

// The processes whose parent is this one.
std::vector<int> OurChildren() {
  std::vector<int> out;
  DIR* proc = opendir("/proc");
  if (!proc) return out;
  while (dirent* d = readdir(proc)) {
    const std::string stat = testing::ReadFile(std::string("/proc/") + d->d_name + "/stat");
    const auto paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    std::istringstream fields(stat.substr(paren + 1));
    std::string state;
    int parent = 0;
    fields >> state >> parent;
    if (parent == getpid()) out.push_back(std::atoi(d->d_name));
  }
  closedir(proc);
  return out;
}

PathFacts FigureFacts(uint64_t dev, uint64_t blocks, uint64_t bfree, uint64_t bavail, uint64_t frsize) {
  PathFacts f;
  f.dev = dev;
  f.figures = {blocks, bfree, bavail, frsize};
  return f;
}

auto FactFields(const PathFacts& f) {
  return std::tie(f.stat_error, f.dev, f.statfs_error, f.figures.blocks, f.figures.bfree, f.figures.bavail,
                  f.figures.frsize);
}

TEST(MountProberTest, AsksLocalMountsHereAndTheOthersInHelpersThatNothingWaitsOn) {
  PathFacts stat_failed = FigureFacts(0, 7, 6, 5, 512);
  stat_failed.stat_error = ENOENT;
  FakeProbeScope scope({{"/local", FigureFacts(1, 100, 40, 30, 4096)},
                        {"/remote", FigureFacts(0x1234567890ull, 1ull << 62, 3, 2, 1)},
                        {"/odd", stat_failed}},
                       "/hung", "/vanish");
  // A pipe whose write end only we close: a helper that kept a copy would
  // hold its reader, as it would hold the pipe of `$(hostprobe --pass 1)`.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);

  MountProber prober(FakeProbe, std::chrono::milliseconds(1000));
  std::vector<MountProber::Ask> asks(6);
  const std::pair<const char*, bool> paths[] = {{"/local", true},  {"/remote", false}, {"/hung", false},
                                                {"/odd", false},   {"/vanish", false}, {"/unknown", false}};
  for (std::size_t i = 0; i < asks.size(); ++i) {
    asks[i].path = paths[i].first;
    asks[i].local = paths[i].second;
  }
  prober.Run(asks);
  const int errors[] = {ETIMEDOUT, EIO, EACCES};
  PathFacts failed_with[3];
  for (int i = 0; i < 3; ++i) failed_with[i].stat_error = failed_with[i].statfs_error = errors[i];
  EXPECT_EQ(FactFields(asks[0].facts), FactFields(FigureFacts(1, 100, 40, 30, 4096)));
  EXPECT_EQ(FactFields(asks[1].facts), FactFields(FigureFacts(0x1234567890ull, 1ull << 62, 3, 2, 1)));
  EXPECT_EQ(FactFields(asks[2].facts), FactFields(failed_with[0]));
  EXPECT_EQ(FactFields(asks[3].facts), FactFields(stat_failed));
  EXPECT_EQ(FactFields(asks[4].facts), FactFields(failed_with[1]));   // ended without an answer
  EXPECT_EQ(FactFields(asks[5].facts), FactFields(failed_with[2]));
  EXPECT_EQ(scope.CallsHere(), 1) << "only the local mount is asked in this process";
  EXPECT_EQ(scope.HangCalls(), 1u);

  // Nothing is left for us to reap, the hung helper included, and it holds
  // none of our descriptors.
  EXPECT_EQ(OurChildren(), std::vector<int>());
  close(pipe_fds[1]);
  pollfd reader{pipe_fds[0], POLLIN, 0};
  EXPECT_EQ(poll(&reader, 1, 0), 1);
  EXPECT_TRUE(reader.revents & POLLHUP);
  close(pipe_fds[0]);

  // While the helper hangs its path answers at once, without a new helper.
  std::vector<MountProber::Ask> again(1);
  again[0].path = "/hung";
  prober.Run(again);
  EXPECT_EQ(again[0].facts.statfs_error, ETIMEDOUT);
  EXPECT_EQ(scope.HangCalls(), 1u);

  // Once it has ended, the path is asked afresh.
  scope.Release();
  for (int i = 0; i < 500 && again[0].facts.statfs_error == ETIMEDOUT; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    prober.Run(again);
  }
  EXPECT_EQ(again[0].facts.statfs_error, EIO);
  EXPECT_EQ(scope.HangCalls(), 2u);
  EXPECT_EQ(OurChildren(), std::vector<int>());
}

TEST(MountProberTest, TheRealProbeAnswersAsStatAndStatfsDo) {
  testing::ScratchDir dir;
  MountProber prober(SystemFactsProbe, std::chrono::milliseconds(5000));
  std::vector<MountProber::Ask> asks(3);
  asks[0].path = dir.path().string();
  asks[0].local = true;
  asks[1].path = dir.path().string();
  asks[2].path = (dir.path() / "missing").string();
  prober.Run(asks);
  struct stat st;
  ASSERT_EQ(stat(dir.path().c_str(), &st), 0);
  EXPECT_EQ(asks[0].facts.stat_error, 0);
  EXPECT_EQ(asks[0].facts.dev, st.st_dev);
  EXPECT_EQ(asks[0].facts.statfs_error, 0);
  EXPECT_GT(asks[0].facts.figures.blocks, 0u);
  EXPECT_GT(asks[0].facts.figures.frsize, 0u);
  EXPECT_EQ(asks[1].facts.dev, st.st_dev);
  EXPECT_EQ(asks[1].facts.figures.blocks, asks[0].facts.figures.blocks);
  EXPECT_EQ(asks[1].facts.figures.frsize, asks[0].facts.figures.frsize);
  EXPECT_EQ(asks[2].facts.stat_error, ENOENT);
  EXPECT_EQ(asks[2].facts.statfs_error, ENOENT);
}

// --- A fake machine ----------------------------------------------------------

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

// A machine's tree whose stand-in files for device nodes (plain files, as a
// tree made without privileges holds) are the block devices it is told of.
class FakeMachine : public LinuxRoot {
 public:
  FakeMachine(const fs::path& tree, std::map<std::string, DeviceNumber> nodes)
      : LinuxRoot(tree.string()), nodes_(std::move(nodes)) {}
  std::optional<DeviceNumber> BlockDevice(std::string_view path) const override {
    const std::optional<std::string> node = Canonical(path);
    const auto it = node ? nodes_.find(*node) : nodes_.end();
    return it != nodes_.end() ? std::optional(it->second) : std::nullopt;
  }

 private:
  std::map<std::string, DeviceNumber> nodes_;  // by path of the machine
};

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
  uint64_t dev = 0;
  auto f = [&](uint64_t blocks, uint64_t bfree, uint64_t bavail, uint64_t frsize) {
    return FigureFacts(++dev, blocks, bfree, bavail, frsize);
  };
  FakeProbeScope scope({{"/", f(1000000, 300000, 250000, 4096)},    {"/media/stick", f(7800000, 7800000, 7800000, 1024)},
                        {"/media/card", f(100, 0, 0, 131072)},      {"/data", f(3, 1, 1, 512)},
                        {"/media/cdrom", f(2000000, 0, 0, 2048)},   {"/var/cache", f(1000, 999, 999, 4096)},
                        {"/mnt/nfs", f(1ull << 40, (1ull << 39) + (1ull << 30), 1ull << 39, 1024)},
                        {"/mnt/share", f(10, 5, 5, 1000)},          {"/home/u/remote", f(1, 1, 1, 4096)},
                        {"/tmp", f(500, 500, 500, 4096)},           {"/merged", f(2, 1, 1, 4096)},
                        {"/proc", f(0, 0, 0, 4096)},                {"/dev", f(10, 10, 10, 4096)},
                        {"/run/shm", f(20, 10, 10, 4096)},          {"/media/win", f(100, 50, 50, 4096)}},
                       "/mnt/hung");
  const fs::path root = scope.dir() / "root";
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
      Mount(0, 46, "/dev", "devtmpfs", "udev"),
      Mount(0, 47, "/run/shm", "tmpfs", "host:share"),  // a RAM disk whatever its source says
      Mount(8, 49, "/media/win", "fuseblk", "/dev/sdd1"),
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
  SysBlock(root, "8:49", "pci0000:00/0000:00:1f.2/ata4/host3/target3:0:0/3:0:0:0/block/sdd/sdd1", true);
  Put(root / "run/udev/data/b8:49", "E:ID_FS_TYPE=ntfs\nE:ID_FS_LABEL=Windows\nE:ID_FS_UUID=0029225719D0E9EE\n");

  const FakeMachine machine(root, {{"/dev/sdb1", {8, 17}}, {"/dev/sdc1", {8, 33}}});
  Config config;
  config.root = &machine;
  config.probe = FakeProbe;
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
      block("root fs (/:) Information     Drive Type is Fixed", "ext4", "-207506748", "", "/", "3,891,200,000",
            "2,867,200,000", "1,024,000,000") +
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
            "/mnt/nfs", "1,124,800,395,214,848", "561,850,441,793,536", "562,949,953,421,312") +
      block("No Volume Name On (/mnt/share:) Information     Drive Type is Network", "cifs", "0", "//server/share",
            "/mnt/share", "10,000", "5,000", "5,000") +
      block("No Volume Name On (/home/u/remote:) Information     Drive Type is Network", "fuse.sshfs", "0",
            "u@host:/home/u", "/home/u/remote", "4,096", "", "4,096") +
      block("No Volume Name On (/tmp:) Information     Drive Type is RAM Disk", "tmpfs", "0", "", "/tmp",
            "2,048,000", "", "2,048,000") +
      block("No Volume Name On (/merged:) Information     Drive Type is Fixed", "overlay", "0", "", "/merged",
            "8,192", "4,096", "4,096") +
      block("No Volume Name On (/dev:) Information     Drive Type is RAM Disk", "devtmpfs", "0", "", "/dev",
            "40,960", "", "40,960") +
      block("No Volume Name On (/run/shm:) Information     Drive Type is RAM Disk", "tmpfs", "0", "", "/run/shm",
            "81,920", "40,960", "40,960") +
      block("Windows (/media/win:) Information     Drive Type is Fixed", "ntfs", "433121774", "", "/media/win",
            "409,600", "204,800", "204,800") +
      " (/mnt/hung:)     Drive Not Ready\r\n"
      "\r\nSYSTEM INFORMATION\r\n\r\nNumber of Drives - 15\r\n     0 - Unknown Drives\r\n"
      "     3 - Removable Drives\r\n     3 - Fixed Drives\r\n     3 - NetWork Drives\r\n     1 - CD-ROM Drives\r\n"
      "     4 - RAM-Disk Drives\r\nTotal Bytes - 1,124,816,389,422K\r\nUsed Bytes - 561,857,418,361K\r\n"
      "Free Bytes - 562,958,971,062K\r\n";
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
  // One helper asked it, for the listing, its count and the second listing.
  EXPECT_EQ(scope.HangCalls(), 1u);
}

// --- The live machine against df -----------------------------------------

struct DfRow {
  std::string fstype;
  int64_t used = 0;
  int64_t avail = 0;
};

// `df -B1 --output=target,fstype,used,avail` by target; nullopt without df.
std::optional<std::map<std::string, DfRow>> RunDf() {
  FILE* p = popen("df -B1 --output=target,fstype,used,avail 2>/dev/null", "r");
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

struct ReadyDrive {
  std::string root, fstype;
  int64_t total = 0, used = 0, free = 0;
};

// The ready drives of a report made with "," as separator.
std::vector<ReadyDrive> ReadyDrives(const std::string& report) {
  std::vector<ReadyDrive> out;
  std::istringstream lines(report);
  std::string line;
  ReadyDrive d;
  auto value = [&](const char* label) { return line.substr(line.find(label) + std::strlen(label)); };
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find("     File System Type - ") == 0) d.fstype = value("File System Type - ");
    if (line.find("     Root Folder - ") == 0) d.root = value("Root Folder - ");
    if (line.find("     Total Bytes Available - ") == 0) d.total = Digits(value("Total Bytes Available - "));
    if (line.find("     Bytes Used - ") == 0) d.used = Digits(value("Bytes Used - "));
    if (line.find("     Free Space Available - ") == 0) {
      d.free = Digits(value("Free Space Available - "));
      out.push_back(d);
    }
  }
  return out;
}

TEST(LinuxDrivesLiveTest, AgreesWithDf) {
  auto source = MakeLinuxDriveSource();
  const std::string report = GetDrivesReport(*source, ",");
  const auto df = RunDf();
  if (!df) GTEST_SKIP() << "df is not available";
  std::cout << "live drive record (total, used, free) vs df -B1 --output=target,fstype,used,avail\n";
  for (const ReadyDrive& d : ReadyDrives(report)) {
    const auto it = df->find(d.root);
    std::cout << "  " << d.root << "  " << d.fstype << " " << d.total << " " << d.used << " " << d.free << "  |  ";
    if (it == df->end()) {
      std::cout << "(not in df)\n";
    } else {
      std::cout << it->second.fstype << " " << it->second.used << " " << it->second.avail << "\n";
    }
    ASSERT_NE(it, df->end()) << d.root << " is not listed by df";
    EXPECT_EQ(d.fstype, it->second.fstype) << d.root;
    EXPECT_EQ(d.total, d.used + d.free) << d.root;
    // Sizes move on a busy file system between the two reads: allow 1% of it
    // or 1 MiB, whichever is more.
    const int64_t slack = std::max<int64_t>(d.total / 100, 1 << 20);
    EXPECT_LE(std::llabs(d.used - it->second.used), slack) << d.root;
    EXPECT_LE(std::llabs(d.free - it->second.avail), slack) << d.root;
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
}  // namespace hostprobe::linux_drives
