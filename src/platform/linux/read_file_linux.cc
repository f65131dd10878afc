#include "platform/linux/read_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace hostprobe {

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
  // Non-blocking, so that a FIFO in the file's place is never waited for;
  // the regular-file check then leaves it unread.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const auto too_large = [&] {
    return Error(ErrorKind::kPlatform,
                 "reading " + ShownName(path) + ": larger than " +
                     (limit % (1u << 20) == 0 ? std::to_string(limit >> 20) + " MiB" : std::to_string(limit) + " bytes"));
  };
  // procfs and sysfs give their files the size 0: the size is a hint only.
  if (st.st_size > 0 && static_cast<uint64_t>(st.st_size) > limit) throw too_large();
  std::string text;
  if (st.st_size > 0) text.reserve(static_cast<std::size_t>(st.st_size) + 1);
  char chunk[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) return text;
    if (static_cast<std::size_t>(n) > limit - text.size()) throw too_large();
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  closedir(dir);
  return names;
}

}  // namespace hostprobe
