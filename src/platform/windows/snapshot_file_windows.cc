// The snapshot file, read on Windows through the C runtime's wide open: in
// binary mode, with the runtime's errors put the way POSIX names them.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/snapshot_file.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

// Closes a file descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::_close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// True when a part of `path` is longer than the 255 bytes a file name may have.
bool HasOverlongName(const std::string& path) {
  std::size_t part = 0;
  for (const char c : path) {
    part = (c == '/' || c == '\\') ? 0 : part + 1;
    if (part > 255) return true;
  }
  return false;
}

}  // namespace

std::string ReadSnapshotText(const std::string& path) {
  // Windows has no FIFOs to block on and no controlling terminal: O_BINARY
  // (no text-mode translation) is the one flag beyond reading.
  // The name is UTF-8 (from the wide command line): the wide call opens
  // that very file, whatever the ANSI code page holds.
  const std::wstring wide = Utf8ToWide(path);
  const Descriptor fd(::_wopen(wide.c_str(), O_RDONLY | O_BINARY));
  if (fd.get() < 0) {
    const int err = errno;
    std::error_code ec;
    // Windows does not open a directory as a file at all.
    if (err == EACCES && std::filesystem::is_directory(std::filesystem::path(wide), ec)) {
      ThrowCannotReadSnapshot(path, "it is a directory");
    }
    // Its C runtime says "no such file" for a name no file system takes.
    if (err == ENOENT && HasOverlongName(path)) ThrowCannotReadSnapshot(path, std::strerror(ENAMETOOLONG));
    ThrowCannotReadSnapshot(path, std::strerror(err));
  }
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
