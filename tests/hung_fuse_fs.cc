// A FUSE file system whose statfs never answers: an empty root directory that
// answers getattr and readdir, and a statfs that waits for good. For the test
// that a hung mount cannot pin hostprobe. Usage: hung_fuse_fs -f MOUNTPOINT
// A statfs whose caller is interrupted (a signal, its process ending) is
// answered EINTR, as network file systems and Windows' redirector give up a
// request whose program ends: the kernel cannot abandon a request the file
// system has taken, so a thread asking it could never end otherwise.
// With HUNG_FUSE_FS_ANSWER=NAME in the environment, statfs does answer a
// caller whose process name (/proc/PID/comm) begins with NAME: under Wine, the
// server (wineserver) asks statfs once of every device it opens a file on,
// and it serves every thread of every Wine process; answered, it goes on, and
// only the program's own questions wait, as they do on Windows.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

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

bool AskedByAnswered() {
  const char* name = std::getenv("HUNG_FUSE_FS_ANSWER");
  if (name == nullptr || *name == '\0') return false;
  std::ifstream comm("/proc/" + std::to_string(fuse_get_context()->pid) + "/comm");
  std::string caller;
  return std::getline(comm, caller) && caller.rfind(name, 0) == 0;
}

// The kernel's interrupts reach the thread serving the request (SIGUSR1).
void* Init(fuse_conn_info*, fuse_config* config) {
  config->intr = 1;
  config->intr_signal = SIGUSR1;
  return nullptr;
}

int StatFs(const char*, struct statvfs* st) {
  if (AskedByAnswered()) {
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = 4096;
    st->f_blocks = 1024;
    st->f_namemax = 255;
    return 0;
  }
  while (!fuse_interrupted()) pause();  // the library signals this thread on an interrupt
  return -EINTR;
}

}  // namespace

int main(int argc, char** argv) {
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.statfs = StatFs;
  ops.init = Init;
  // The signal that wakes the thread serving an interrupted request: caught,
  // so that pause() returns.
  struct sigaction wake {};
  wake.sa_handler = [](int) {};
  sigaction(SIGUSR1, &wake, nullptr);
  return fuse_main(argc, argv, &ops, nullptr);
}
