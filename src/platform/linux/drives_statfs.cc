// statvfs, and the bound on how long a drive may take to answer it.
#include <sys/statvfs.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/linux/drives_linux.h"

namespace hostprobe::linuxdrives {

int SystemStatFs(const std::string& path, FsFigures* out) {
  struct statvfs s {};
  if (statvfs(path.c_str(), &s) != 0) return errno;
  out->blocks = s.f_blocks;
  out->bavail = s.f_bavail;
  out->frsize = s.f_frsize != 0 ? s.f_frsize : s.f_bsize;
  return 0;
}

// The paths whose call has not returned yet; shared with the workers, which
// may outlive the caller.
struct BoundedStatFs::Pending {
  std::mutex mutex;
  std::set<std::string> paths;
};

namespace {
struct Answer {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  int result = 0;
  FsFigures figures;
};
}  // namespace

BoundedStatFs::BoundedStatFs(StatFs stat, std::chrono::milliseconds bound)
    : stat_(std::move(stat)), bound_(bound), pending_(std::make_shared<Pending>()) {}

int BoundedStatFs::operator()(const std::string& path, FsFigures* out) {
  {
    std::lock_guard<std::mutex> lock(pending_->mutex);
    if (!pending_->paths.insert(path).second) return ETIMEDOUT;
  }
  auto answer = std::make_shared<Answer>();
  try {
    std::thread([answer, pending = pending_, stat = stat_, path] {
      FsFigures figures;
      const int result = stat(path, &figures);
      {
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->paths.erase(path);
      }
      std::lock_guard<std::mutex> lock(answer->mutex);
      answer->result = result;
      answer->figures = figures;
      answer->done = true;
      answer->done_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(pending_->mutex);
    pending_->paths.erase(path);
    return EAGAIN;
  }
  std::unique_lock<std::mutex> lock(answer->mutex);
  if (!answer->done_cv.wait_for(lock, bound_, [&] { return answer->done; })) return ETIMEDOUT;
  *out = answer->figures;
  return answer->result;
}

}  // namespace hostprobe::linuxdrives
