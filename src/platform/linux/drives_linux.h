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
#include "platform/linux/root/linux_root.h"

namespace hostprobe::linux_drives {

// One line of /proc/self/mountinfo.
struct MountEntry {
  uint32_t id = 0;          // the mount's id, unique among the current mounts
  uint32_t parent = 0;      // the id of the mount it is mounted on
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

// A network file system, by its type alone ("fuse." stripped first): what
// the source looks like says nothing (a tmpfs may be named "host:share").
bool IsRemoteMount(const MountEntry& mount);

// For each mount of the table, whether path resolution never reaches it: a
// mount on a directory above it was made later (on its parent, or stacked
// on its parent's own point). Mounts stacked on one point are all reached.
// Nothing is covered in a table whose ids are not unique.
std::vector<bool> CoveredMounts(const std::vector<MountEntry>& all);

// File systems whose stat and statfs the kernel answers from memory or a local
// device, so that they are asked directly. Every other type (network, FUSE,
// cluster, anything not named here) may leave a caller waiting in the kernel
// for good and is asked through a helper process.
bool IsLocalFileSystem(std::string_view fstype);

// The statfs figures a drive needs, in blocks of `frsize` bytes.
struct FsFigures {
  uint64_t blocks = 0;  // f_blocks
  uint64_t bfree = 0;   // f_bfree: free, the root reserve included
  uint64_t bavail = 0;  // f_bavail: free for an ordinary user
  uint64_t frsize = 0;  // f_frsize (f_bsize where that is 0)
};

// One look at a mount point: stat() for the device that identifies its file
// system, statfs() for its sizes. An error is an errno value; ETIMEDOUT means
// the mount did not answer within the bound.
struct PathFacts {
  int stat_error = 0;
  uint64_t dev = 0;  // st_dev
  int statfs_error = 0;
  FsFigures figures;
};

// Takes the facts of an absolute path. It runs in the caller for local file
// systems and in a forked helper process of a threaded program for the rest,
// so it may call async-signal-safe functions only (no allocation, no locks).
// May block.
using FactsProbe = void (*)(const char* path, PathFacts* out);

// The real one: stat(2) and statfs(2).
void SystemFactsProbe(const char* path, PathFacts* out);

// Asks mount points for their facts without ever leaving the caller waiting
// on a mount that does not answer. Local file systems are asked directly;
// every other one in a helper process of its own (a double fork: the helper
// is init's child, not ours, so it never becomes our zombie and our exit
// never waits on it). All helpers of one call share one bound. A helper still
// stuck at the bound is left to the kernel; until it ends, its path answers
// ETIMEDOUT at once without a new helper. One call at a time (a mutex).
class MountProber {
 public:
  MountProber(FactsProbe probe, std::chrono::milliseconds bound);
  ~MountProber();
  MountProber(const MountProber&) = delete;
  MountProber& operator=(const MountProber&) = delete;

  struct Ask {
    std::string path;
    bool local = false;  // asked directly
    PathFacts facts;     // the answer
  };
  void Run(std::vector<Ask>& asks);
  std::chrono::milliseconds bound() const { return bound_; }

 private:
  struct Stuck;
  FactsProbe probe_;
  std::chrono::milliseconds bound_;
  std::unique_ptr<Stuck> stuck_;
};

// A mount of the drive list with the facts taken when the list was made.
struct ListedMount {
  MountEntry mount;
  PathFacts facts;
};

// Fills in the facts of the asks (the mount points of one listing).
using AskFacts = std::function<void(std::vector<MountProber::Ask>& asks)>;

// The mounts df shows by default, in mount-table order, each file system
// once: covered mounts, pseudo file systems and file systems of no blocks left out, an
// overmounted mount point shown by its topmost mount in its first place, and
// of several mounts with one stat() device (mountinfo's number where stat
// failed) the one df keeps (a real device name, then the mount point nearer
// the root; remote mounts of different sources stay).
std::vector<ListedMount> SelectMounts(const std::vector<MountEntry>& all, const AskFacts& ask);

// The volume serial as Windows shows it, from a file system's UUID text as
// libblkid gives it (dashes ignored), as a signed 32-bit number: NTFS's 64-bit
// serial (16 hex digits) gives its low 32 bits, the last eight digits; every
// other type its first eight hex digits (the FAT and exFAT volume ID
// "1234-ABCD" whole, the start of an ext4 or xfs UUID); 0 when it has fewer
// or holds a character that is not a hex digit.
int32_t SerialFromUuid(std::string_view uuid, std::string_view fstype);

struct Config {
  // The machine whose /proc, /sys, /run and /dev are read; it outlives the
  // source.
  const LinuxRoot* root = &LinuxRoot::Live();
  FactsProbe probe = SystemFactsProbe;
  std::chrono::milliseconds bound{2000};
};

std::unique_ptr<DriveSource> MakeDriveSource(Config config);

}  // namespace hostprobe::linux_drives
