// The live Linux drive source, in pieces that tests can reach: a "drive" is a
// mounted file system as df lists it by default.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drive_source.h"

namespace hostprobe::linuxdrives {

// One line of /proc/self/mountinfo.
struct MountEntry {
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string root;         // the mounted directory within its file system
  std::string mount_point;  // octal escapes (\040 ...) decoded
  std::string fstype;       // "fuse.sshfs" and the like kept whole
  std::string source;
};

// The lines of mountinfo text in order; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// File systems that df leaves out by default whatever their size.
bool IsPseudoFileSystem(std::string_view fstype);

// A network file system (by type, a "fuse." prefix stripped first, or by a
// source of the form "//server/share" or "server:/export").
bool IsRemoteMount(const MountEntry& mount);

// The statvfs figures a drive needs.
struct FsFigures {
  uint64_t blocks = 0;  // f_blocks
  uint64_t bavail = 0;  // f_bavail
  uint64_t frsize = 0;  // f_frsize (f_bsize where that is 0)
};

// A statvfs call: 0 and the figures, or an errno value. May block.
using StatFs = std::function<int(const std::string& path, FsFigures* out)>;

// The real statvfs(3).
int SystemStatFs(const std::string& path, FsFigures* out);

// Runs a StatFs on a worker thread and waits at most `bound` for it. A call
// that does not answer in time gives ETIMEDOUT and is left to finish alone;
// until it does, further calls on the same path give ETIMEDOUT at once, so a
// hung mount costs one bound and one thread, not one per read.
class BoundedStatFs {
 public:
  BoundedStatFs(StatFs stat, std::chrono::milliseconds bound);
  int operator()(const std::string& path, FsFigures* out);
  std::chrono::milliseconds bound() const { return bound_; }

 private:
  struct Pending;
  StatFs stat_;
  std::chrono::milliseconds bound_;
  std::shared_ptr<Pending> pending_;
};

// The mounts df shows by default, in mount-table order, each mount point
// once: pseudo file systems and file systems of no blocks left out, an
// overmounted mount point shown by its topmost mount in its first place, and
// of several mounts of one device the one df keeps (a real device name, then
// the mount point nearer the root; remote mounts of different sources stay).
std::vector<MountEntry> SelectMounts(const std::vector<MountEntry>& all, BoundedStatFs& stat);

// The volume serial from a file-system UUID: its first eight hex digits (the
// FAT serial "1234-ABCD" whole) as a signed 32-bit number; 0 when it has fewer.
int32_t SerialFromUuid(std::string_view uuid);

struct Config {
  // Prefix of /proc, /sys, /run and /dev paths: empty on the live machine, a
  // fake tree in tests.
  std::string root;
  StatFs stat = SystemStatFs;
  std::chrono::milliseconds bound{2000};
};

std::unique_ptr<DriveSource> MakeDriveSource(Config config);

}  // namespace hostprobe::linuxdrives
