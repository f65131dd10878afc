// A FUSE file system whose statfs never answers: an empty root directory that
// answers getattr and readdir, and a statfs that waits for good. For the test
// that a hung mount cannot pin hostprobe. Usage: hung_fuse_fs -f MOUNTPOINT
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  st->st_mode = S_IFDIR | 0755;
  st->st_nlink = 2;
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int StatFs(const char*, struct statvfs*) {
  for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.statfs = StatFs;
  return fuse_main(argc, argv, &ops, nullptr);
}
