// The snapshot file, read on Linux: opened without blocking and without
// becoming a controlling terminal, checked to be a regular file before a byte
// is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/posix_linux.h"
#include "platform/snapshot_file.h"

namespace hostprobe {

std::string ReadSnapshotText(const std::string& path) {
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) ThrowCannotReadSnapshot(path, std::strerror(errno));
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) ThrowCannotReadSnapshot(path, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) ThrowCannotReadSnapshot(path, "it is a directory");
  if (!S_ISREG(st.st_mode)) ThrowCannotReadSnapshot(path, "it is not a regular file");
  if (st.st_size < 0 || static_cast<std::uintmax_t>(st.st_size) > kMaxSnapshotBytes) {
    ThrowSnapshotTooLarge(path);
  }
  std::string text;
  text.reserve(static_cast<std::size_t>(st.st_size) + 1);
  char chunk[65536];
  for (;;) {
    const auto got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ThrowCannotReadSnapshot(path, std::strerror(errno));
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
    if (text.size() > kMaxSnapshotBytes) ThrowSnapshotTooLarge(path);  // a file that grew while read
  }
  return text;
}

}  // namespace hostprobe
