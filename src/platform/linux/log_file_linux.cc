#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "platform/error.h"
#include "platform/platform.h"

namespace hostprobe {
namespace {

class LinuxLogFile : public LogFile {
 public:
  // O_APPEND makes the one write land whole at the end, also when another
  // process appends to the same log. O_NONBLOCK keeps a FIFO or device of
  // that name from blocking the open; only a regular file is written.
  void Append(std::string_view bytes) override {
    const int fd = open(kLogFileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    // ENXIO: a FIFO or socket that nobody reads.
    if (fd < 0 && errno == ENXIO) NotRegular();
    if (fd < 0) Fail("cannot open", errno);
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      const int err = errno;
      close(fd);
      Fail("cannot open", err);
    }
    if (!S_ISREG(st.st_mode)) {
      close(fd);
      NotRegular();
    }
    std::size_t done = 0;
    off_t start = -1;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int err = n < 0 ? errno : ENOSPC;
        // A record is in the log whole or not at all: cut off the part that
        // did fit, so the next run does not append onto a torn record.
        if (done > 0 && start >= 0 && ftruncate(fd, start) != 0) {
          // Reported below is the write's own error, not the cut's.
        }
        close(fd);
        Fail("cannot write", err);
      }
      if (done == 0) {
        // Where this record began: the append wrote at the end of file.
        const off_t now = lseek(fd, 0, SEEK_CUR);
        start = now < 0 ? -1 : now - n;
      }
      done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0 && errno != EINTR) Fail("cannot close", errno);
  }

 private:
  [[noreturn]] static void NotRegular() {
    throw Error(ErrorKind::kFile, std::string("cannot open ") + kLogFileName + ": not a regular file");
  }
  [[noreturn]] static void Fail(const char* what, int err) {
    throw Error(ErrorKind::kFile, std::string(what) + " " + kLogFileName + ": " + std::strerror(err));
  }
};

}  // namespace

std::unique_ptr<LogFile> MakeLogFile() { return std::make_unique<LinuxLogFile>(); }

}  // namespace hostprobe
