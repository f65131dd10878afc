// Reading a whole small file (sysfs, procfs, udev, leases) of the Linux
// sources: one open and a few reads, at most 1 MiB.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace hostprobe {

// The file's bytes (the first MiB and a little more at most); nullopt when it
// cannot be opened or read.
inline std::optional<std::string> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0 && text.size() < (1u << 20)) {
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (n < 0) return std::nullopt;
  return text;
}

}  // namespace hostprobe
