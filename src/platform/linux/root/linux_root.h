// The one way the Linux sources see the machine's file system: /proc, /sys,
// /run, /dev and /var as paths on the machine, read, listed and looked at
// through a root. The live root is the machine's own; tests stand a directory
// tree in for it (and say which of its files stand for which device nodes,
// since a tree made without privileges holds no device nodes).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostprobe {

// Larger than any sane file the sources read (mountinfo of 100,000 mounts is
// about 15 MiB).
inline constexpr std::size_t kMaxWholeFile = std::size_t{64} << 20;

// The bytes of the regular file at `path`, all of them; nullopt when it
// cannot be opened or read or is not a regular file (a FIFO, a device or a
// directory is never read, nor waited for). Reads interrupted by a signal are
// retried. Throws Error (kPlatform) naming the file when it holds more than
// `limit` bytes.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit = kMaxWholeFile);

// A block device's number.
struct DeviceNumber {
  uint32_t major = 0;
  uint32_t minor = 0;
  friend bool operator==(const DeviceNumber&, const DeviceNumber&) = default;
};

class LinuxRoot {
 public:
  // The machine's own file system.
  LinuxRoot() = default;
  // The machine's file system standing at directory `tree`.
  explicit LinuxRoot(std::string tree);
  virtual ~LinuxRoot() = default;

  // The live machine's root, shared.
  static const LinuxRoot& Live();

  // Where this process finds `path`, an absolute path of the machine
  // ("/proc/self/mountinfo"); the tree's directory itself for "/" or "".
  std::string Path(std::string_view path) const;

  // ReadWholeFile of `path`.
  std::optional<std::string> Read(std::string_view path) const;
  // The first line of `path` (without its line end); empty when it cannot be read.
  std::string FirstLine(std::string_view path) const;
  // The names in directory `path` but those starting with a dot, in the
  // directory's order; none when it cannot be read.
  std::vector<std::string> List(std::string_view path) const;
  // stat(2) of `path`, symbolic links followed; nullopt when that fails.
  std::optional<struct stat> Stat(std::string_view path) const;
  bool Exists(std::string_view path) const { return Stat(path).has_value(); }
  // The path a symbolic link leads to, every link followed, as a path of
  // the machine; nullopt when it cannot be resolved or leaves the tree.
  std::optional<std::string> Canonical(std::string_view path) const;

  // The block device the node at `path` is (links followed); nullopt when it
  // is none. A tree's stand-ins answer what its maker said of them.
  virtual std::optional<DeviceNumber> BlockDevice(std::string_view path) const;

 private:
  std::string tree_;  // empty: the machine's own
};

}  // namespace hostprobe
