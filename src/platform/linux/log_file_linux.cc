#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "platform/error.h"
#include "platform/linux/posix_linux.h"
#include "platform/live/live.h"

namespace hostprobe {
namespace {

class LinuxLogFile : public LogFile {
 public:
  explicit LinuxLogFile(std::chrono::milliseconds lock_wait) : lock_wait_(lock_wait) {}

  // Each record is written under a write lock on the whole log (an
  // open-file-description lock: it also holds against the POSIX locks other
  // programs, Wine's included, take), so the records of concurrent runs
  // never meet: not when a file system takes a record in many short writes,
  // and not when a record that does not fit is cut back. O_NONBLOCK keeps a
  // FIFO or device of that name from blocking the open; only a regular file
  // is written.
  void Append(std::string_view bytes) override {
    Descriptor fd(open(kLogFileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
    // ENXIO: a FIFO or socket that nobody reads.
    if (fd.get() < 0 && errno == ENXIO) NotRegular();
    if (fd.get() < 0) Fail("cannot open", errno);
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) Fail("cannot open", errno);
    if (!S_ISREG(st.st_mode)) NotRegular();
    Lock(fd.get());

    const SignalsHeld held;
    // Under the lock the end of the log is where this record begins.
    if (fstat(fd.get(), &st) != 0) Fail("cannot write", errno);
    const off_t start = st.st_size;
    std::size_t done = 0;
    if (const int err = WriteAll(fd.get(), bytes, &done)) {
      std::string message = Reason("cannot write", err);
      // A record is in the log whole or not at all: cut off the part that
      // did fit, so the next run does not append onto a torn record. Only
      // this record's bytes lie past `start`: the lock kept every other
      // writer out.
      if (done > 0 && ftruncate(fd.get(), start) != 0) {
        message += std::string(" and the partial record could not be removed: ") + std::strerror(errno);
      }
      throw Error(ErrorKind::kFile, message);
    }
    // Closing the descriptor also gives up the lock.
    if (const int err = fd.Close()) Fail("cannot close", err);
  }

 private:
  // Takes the write lock, waiting for another run's record at most
  // `lock_wait_`.
  void Lock(int fd) const {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    const auto deadline = std::chrono::steady_clock::now() + lock_wait_;
    for (;;) {
      if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return;
      const int err = errno;
      if (err == EINTR) continue;
      // A file system without locks (some network ones) has nothing to wait
      // for: the record is written as before, by one append.
      if (err == ENOLCK || err == EINVAL || err == EOPNOTSUPP) return;
      if (err != EAGAIN && err != EACCES) Fail("cannot lock", err);
      if (std::chrono::steady_clock::now() >= deadline) {
        throw Error(ErrorKind::kFile, std::string("cannot write ") + kLogFileName +
                                          ": file locked by another process");
      }
      const timespec pause{0, 10 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }

  static std::string Reason(const char* what, int err) {
    return std::string(what) + " " + kLogFileName + ": " + std::strerror(err);
  }
  [[noreturn]] static void NotRegular() {
    throw Error(ErrorKind::kFile, std::string("cannot open ") + kLogFileName + ": not a regular file");
  }
  [[noreturn]] static void Fail(const char* what, int err) { throw Error(ErrorKind::kFile, Reason(what, err)); }

  std::chrono::milliseconds lock_wait_;
};

}  // namespace

std::unique_ptr<LogFile> MakeLogFile(std::chrono::milliseconds lock_wait) {
  return std::make_unique<LinuxLogFile>(lock_wait);
}

}  // namespace hostprobe
