// stat and statfs of mount points, and the helper processes that ask the
// mounts which may never answer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <mutex>

#include "platform/linux/drives_linux.h"

namespace hostprobe::linux_drives {

void SystemFactsProbe(const char* path, PathFacts* out) {
  struct stat st;
  if (stat(path, &st) == 0) {
    out->dev = st.st_dev;
  } else {
    out->stat_error = errno;
  }
  // statfs(2) rather than statvfs(3): the library's statvfs may look through
  // the mount table for the flags, which a forked helper must not do.
  struct statfs s;
  if (statfs(path, &s) == 0) {
    out->figures.blocks = s.f_blocks;
    out->figures.bfree = s.f_bfree;
    out->figures.bavail = s.f_bavail;
    out->figures.frsize = s.f_frsize != 0 ? static_cast<uint64_t>(s.f_frsize) : static_cast<uint64_t>(s.f_bsize);
  } else {
    out->statfs_error = errno;
  }
}

namespace {

PathFacts Failed(int error) {
  PathFacts f;
  f.stat_error = error;
  f.statfs_error = error;
  return f;
}

pid_t ForkOnly() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  return _Fork();  // no fork handlers run: nothing but the system call
#else
  return fork();
#endif
}

// The helper itself: a grandchild of ours that keeps nothing of the caller's
// (no descriptor but its pipe, "/" as its directory, default signal actions so
// that a terminal's Ctrl-C may end it), asks, writes the answer in one write
// (less than PIPE_BUF, so whole or not at all) and ends.
[[noreturn]] void Helper(FactsProbe probe, const char* path, int fd, int max_fd) {
  const unsigned keep = static_cast<unsigned>(fd);
  const bool below = keep == 0 || close_range(0, keep - 1, 0) == 0;
  const bool above = close_range(keep + 1, ~0u, 0) == 0;
  if (!below || !above) {
    for (int i = 0; i < max_fd; ++i) {
      if (i != fd) close(i);
    }
  }
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (chdir("/") != 0) _exit(1);
  PathFacts facts;
  probe(path, &facts);
  const ssize_t written = write(fd, &facts, sizeof facts);
  _exit(written == static_cast<ssize_t>(sizeof facts) ? 0 : 1);
}

int MaxFd() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 65536) {
    return 65536;
  }
  return static_cast<int>(limit.rlim_cur);
}

// Starts a helper for `path`; the read end of its pipe, or -errno.
int StartHelper(FactsProbe probe, const std::string& path) {
  static_assert(sizeof(PathFacts) <= PIPE_BUF);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -errno;
  const int max_fd = MaxFd();
  const char* c_path = path.c_str();
  const pid_t middle = ForkOnly();
  if (middle == 0) {
    // Between fork and _exit: forks and system calls only.
    const pid_t helper = ForkOnly();
    if (helper == 0) Helper(probe, c_path, fds[1], max_fd);
    _exit(helper < 0 ? 1 : 0);
  }
  const int fork_error = errno;
  close(fds[1]);
  if (middle < 0) {
    close(fds[0]);
    return -fork_error;
  }
  // The middle process ends at once, whatever the helper does.
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    close(fds[0]);
    return -EAGAIN;
  }
  return fds[0];
}

}  // namespace

// The helpers that did not answer in time: path -> read end of the pipe.
struct MountProber::Stuck {
  std::mutex mutex;
  std::map<std::string, int> fds;
};

MountProber::MountProber(FactsProbe probe, std::chrono::milliseconds bound)
    : probe_(probe), bound_(bound), stuck_(std::make_unique<Stuck>()) {}

MountProber::~MountProber() {
  for (const auto& [path, fd] : stuck_->fds) close(fd);
}

void MountProber::Run(std::vector<Ask>& asks) {
  std::lock_guard<std::mutex> lock(stuck_->mutex);
  auto& stuck = stuck_->fds;
  // A stuck helper that has ended since (answer or end of file) frees its path.
  for (auto it = stuck.begin(); it != stuck.end();) {
    pollfd p{it->second, POLLIN, 0};
    if (poll(&p, 1, 0) == 1) {
      close(it->second);
      it = stuck.erase(it);
    } else {
      ++it;
    }
  }

  struct Running {
    Ask* ask;
    int fd;
    std::size_t got = 0;
    PathFacts facts;
  };
  std::vector<Running> running;
  for (Ask& a : asks) {
    a.facts = PathFacts();
    if (a.local) {
      probe_(a.path.c_str(), &a.facts);
    } else if (stuck.count(a.path)) {
      a.facts = Failed(ETIMEDOUT);
    } else if (const int fd = StartHelper(probe_, a.path); fd < 0) {
      a.facts = Failed(-fd);
    } else {
      running.push_back({&a, fd, 0, PathFacts()});
    }
  }

  const auto deadline = std::chrono::steady_clock::now() + bound_;
  std::vector<pollfd> polled;
  while (!running.empty()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    polled.clear();
    for (const Running& r : running) polled.push_back({r.fd, POLLIN, 0});
    if (poll(polled.data(), polled.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (std::size_t i = running.size(); i-- > 0;) {
      if (polled[i].revents == 0) continue;
      Running& r = running[i];
      const ssize_t n = read(r.fd, reinterpret_cast<char*>(&r.facts) + r.got, sizeof r.facts - r.got);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n > 0) r.got += static_cast<std::size_t>(n);
      if (n > 0 && r.got < sizeof r.facts) continue;
      // A whole answer, or a helper that ended without one.
      r.ask->facts = r.got == sizeof r.facts ? r.facts : Failed(EIO);
      close(r.fd);
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  for (Running& r : running) {
    r.ask->facts = Failed(ETIMEDOUT);
    if (!stuck.emplace(r.ask->path, r.fd).second) close(r.fd);
  }
}

}  // namespace hostprobe::linux_drives
