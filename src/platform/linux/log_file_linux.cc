#include <errno.h>
#include <fcntl.h>
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
  // process appends to the same log.
  void Append(std::string_view bytes) override {
    const int fd = open(kLogFileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) Fail("cannot open", errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int err = n < 0 ? errno : ENOSPC;
        close(fd);
        Fail("cannot write", err);
      }
      done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0 && errno != EINTR) Fail("cannot close", errno);
  }

 private:
  [[noreturn]] static void Fail(const char* what, int err) {
    throw Error(ErrorKind::kFile, std::string(what) + " " + kLogFileName + ": " + std::strerror(err));
  }
};

}  // namespace

std::unique_ptr<LogFile> MakeLogFile() { return std::make_unique<LinuxLogFile>(); }

}  // namespace hostprobe
