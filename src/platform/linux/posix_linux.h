// Small POSIX helpers of the Linux sources that write files: a descriptor
// closed on every way out, every catchable signal held for a scope, and a
// write loop that puts down every byte or says why not.
#pragma once

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <string_view>

namespace hostprobe {

// Closes a file descriptor on every way out (a negative one is none).
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; 0 or the errno value of close.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 || errno == EINTR ? 0 : errno;
  }

 private:
  int fd_;
};

// Every signal that could end or stop the program, held (blocked in this
// thread) for the object's life and acted on when it ends: a SIGTERM in the
// middle of a write then ends the program after the write, with the same
// exit status. The faults a bug raises in the guarded code are left alone.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&all, sig);
    held_ = pthread_sigmask(SIG_BLOCK, &all, &previous_) == 0;
  }
  ~SignalsHeld() {
    if (held_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
  bool held_ = false;
};

// Writes all of `bytes` to `fd`, in as many writes as the file system takes,
// retrying interrupted ones. Returns 0, or the errno value of the write that
// failed (ENOSPC for one that put down nothing); `*done` is how many bytes
// went out either way.
inline int WriteAll(int fd, std::string_view bytes, std::size_t* done) {
  *done = 0;
  while (*done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + *done, bytes.size() - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    *done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace hostprobe
