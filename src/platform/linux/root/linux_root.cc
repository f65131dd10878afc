#include "platform/linux/root/linux_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

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

LinuxRoot::LinuxRoot(std::string tree) : tree_(std::move(tree)) {
  while (!tree_.empty() && tree_.back() == '/') tree_.pop_back();
}

const LinuxRoot& LinuxRoot::Live() {
  static const LinuxRoot live;
  return live;
}

std::string LinuxRoot::Path(std::string_view path) const {
  if (tree_.empty()) return path.empty() ? std::string("/") : std::string(path);
  if (path == "/") path = "";
  return tree_ + std::string(path);
}

std::optional<std::string> LinuxRoot::Read(std::string_view path) const { return ReadWholeFile(Path(path)); }

std::string LinuxRoot::FirstLine(std::string_view path) const {
  std::string text = Read(path).value_or("");
  text.erase(std::min(text.size(), text.find('\n')));
  return text;
}

std::vector<std::string> LinuxRoot::List(std::string_view path) const {
  std::vector<std::string> names;
  DIR* dir = opendir(Path(path).c_str());
  if (!dir) return names;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  closedir(dir);
  return names;
}

std::optional<struct stat> LinuxRoot::Stat(std::string_view path) const {
  struct stat st {};
  if (::stat(Path(path).c_str(), &st) != 0) return std::nullopt;
  return st;
}

std::optional<std::string> LinuxRoot::Canonical(std::string_view path) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path real = fs::canonical(Path(path), ec);
  if (ec) return std::nullopt;
  if (tree_.empty()) return real.string();
  const fs::path tree = fs::canonical(tree_, ec);
  if (ec) return std::nullopt;
  const std::string inside = real.string(), top = tree.string();
  if (inside == top) return std::string("/");
  if (inside.compare(0, top.size(), top) != 0 || inside.size() <= top.size() || inside[top.size()] != '/') {
    return std::nullopt;
  }
  return inside.substr(top.size());
}

std::optional<DeviceNumber> LinuxRoot::BlockDevice(std::string_view path) const {
  const std::optional<struct stat> st = Stat(path);
  if (!st || !S_ISBLK(st->st_mode)) return std::nullopt;
  return DeviceNumber{major(st->st_rdev), minor(st->st_rdev)};
}

}  // namespace hostprobe
