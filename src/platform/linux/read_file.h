// Reading the files of the live machine (sysfs, procfs, mountinfo, udev's
// database, lease files) whole.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
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

// A small file's bytes; empty when it cannot be read.
inline std::string ReadSmallFile(const std::string& path) { return ReadWholeFile(path).value_or(""); }

// The names in a directory but those starting with a dot; nothing when it
// cannot be read.
std::vector<std::string> ListDirectory(const std::string& path);

// `path` under `root` ("/" on the live machine).
inline std::string Under(const std::string& root, const char* path) {
  return (root == "/" ? std::string() : root) + path;
}

}  // namespace hostprobe
