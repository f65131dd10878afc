// A FUSE file system of one flat directory held in memory, whose writes take
// at most 100 bytes each (as a network file system may): a write of more
// comes back short, and the writer must write the rest itself. For the test
// that concurrent runs still leave whole records. Usage: short_write_fuse_fs -f MOUNTPOINT
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

constexpr std::size_t kMaxWrite = 100;

std::mutex g_mutex;
std::map<std::string, std::string> g_files;  // "/name" -> bytes

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::lock_guard<std::mutex> hold(g_mutex);
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  const auto file = g_files.find(path);
  if (file == g_files.end()) return -ENOENT;
  st->st_mode = S_IFREG | 0644;
  st->st_nlink = 1;
  st->st_size = static_cast<off_t>(file->second.size());
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  std::lock_guard<std::mutex> hold(g_mutex);
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const auto& [name, bytes] : g_files) fill(buffer, name.c_str() + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Create(const char* path, mode_t, fuse_file_info* fi) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_files.try_emplace(path);
  fi->direct_io = 1;  // every write reaches us as the program made it
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  std::lock_guard<std::mutex> hold(g_mutex);
  const auto file = g_files.find(path);
  if (file == g_files.end()) return -ENOENT;
  if (fi->flags & O_TRUNC) file->second.clear();
  fi->direct_io = 1;
  return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t at, fuse_file_info*) {
  std::lock_guard<std::mutex> hold(g_mutex);
  const auto file = g_files.find(path);
  if (file == g_files.end()) return -ENOENT;
  if (static_cast<std::size_t>(at) >= file->second.size()) return 0;
  const std::size_t n = std::min(size, file->second.size() - static_cast<std::size_t>(at));
  std::memcpy(buffer, file->second.data() + at, n);
  return static_cast<int>(n);
}

int Write(const char* path, const char* buffer, size_t size, off_t at, fuse_file_info*) {
  std::lock_guard<std::mutex> hold(g_mutex);
  const auto file = g_files.find(path);
  if (file == g_files.end()) return -ENOENT;
  const std::size_t n = std::min(size, kMaxWrite);
  std::string& bytes = file->second;
  if (bytes.size() < static_cast<std::size_t>(at) + n) bytes.resize(static_cast<std::size_t>(at) + n);
  bytes.replace(static_cast<std::size_t>(at), n, buffer, n);
  return static_cast<int>(n);
}

int Truncate(const char* path, off_t size, fuse_file_info*) {
  std::lock_guard<std::mutex> hold(g_mutex);
  const auto file = g_files.find(path);
  if (file == g_files.end()) return -ENOENT;
  file->second.resize(static_cast<std::size_t>(size));
  return 0;
}

int Unlink(const char* path) {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_files.erase(path) == 1 ? 0 : -ENOENT;
}

}  // namespace

int main(int argc, char** argv) {
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.create = Create;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;
  ops.unlink = Unlink;
  return fuse_main(argc, argv, &ops, nullptr);
}
