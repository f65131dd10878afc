// Reading a file system's own type, label and UUID from its device, as
// `blkid -p` does (libblkid's low-level probing; no cache, no udev).
#pragma once

#include <optional>
#include <string>

namespace hostprobe::linux_drives {

struct ProbedNames {
  std::string type;   // "ext4", "vfat", "ntfs", ... as libblkid names it
  std::string label;  // empty when the file system has none
  std::string uuid;   // libblkid's text: "1234-ABCD", "0029225719D0E9EE", ...
};

// The names in the superblock on `device` (a block device or an image file);
// nullopt when it cannot be opened or read, or holds no file system libblkid
// knows (or more than one that disagree). May block while the device reads.
std::optional<ProbedNames> ProbeFileSystem(const std::string& device);

}  // namespace hostprobe::linux_drives
