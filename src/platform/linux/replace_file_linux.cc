#include "platform/linux/posix_linux.h"
#include "platform/live/live.h"
#include "platform/replace_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

namespace hostprobe {
namespace {

std::string Reason(int err) { return std::strerror(err); }

// The directory part of `path` ("." for a bare name) and the name itself.
std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a new file name in `dir` with `make` (0 when it made the name, else
// an errno value), trying random names while they are taken. Returns 0 and
// sets `*name`, or the errno value.
int MakeNewName(const std::string& dir, const std::function<int(const std::string&)>& make, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = dir + "/.hostprobe-" + RandomFileSuffix() + ".tmp";
    const int err = make(*name);
    if (err != EEXIST) return err;
  }
  return EEXIST;
}

// Writes `bytes` to the new file `fd`, flushes them and gives the file the
// replaced one's permissions. 0 or the errno value.
int Fill(int fd, std::string_view bytes, const struct stat* replaced) {
  std::size_t done = 0;
  if (const int err = WriteAll(fd, bytes, &done)) return err;
  if (fsync(fd) != 0) return errno;
  if (replaced != nullptr) {
    if (fchmod(fd, replaced->st_mode & 07777) != 0) return errno;
    if (geteuid() == 0 && fchown(fd, replaced->st_uid, replaced->st_gid) != 0) {
      // The owner is kept where it can be; the new file is still whole.
    }
  }
  return 0;
}

// Closes the new file named `temporary` and renames it over `path`; on
// failure removes it. 0 or the errno value.
int Finish(int fd, const std::string& temporary, const std::string& path) {
  if (close(fd) != 0 && errno != EINTR) {
    const int err = errno;
    unlink(temporary.c_str());
    return err;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(temporary.c_str());
    return err;
  }
  return 0;
}

}  // namespace

std::optional<std::string> ReplaceWholeFile(const std::string& path, std::string_view bytes) {
  struct stat old {};
  bool replacing = false;
  if (lstat(path.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) return Reason(EISDIR);
    if (S_ISREG(old.st_mode)) {
      // A file without any write permission is read-only for us too, root
      // included: it is not replaced behind its owner's back.
      if ((old.st_mode & 0222) == 0 || faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        return Reason(EACCES);
      }
      replacing = true;
    } else if (!S_ISLNK(old.st_mode)) {
      return std::string("not a regular file");
    }
  } else if (errno != ENOENT) {
    return Reason(errno);
  }
  const struct stat* replaced = replacing ? &old : nullptr;
  const std::string dir = DirectoryOf(path);

  // An unnamed file in the target's directory, named only once it is whole:
  // a capture killed before the rename leaves nothing behind. It is named
  // through /proc/self/fd.
  int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    if (const int err = Fill(fd, bytes, replaced)) {
      close(fd);
      return Reason(err);
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::string temporary;
    const SignalsHeld held;
    const int link_err = MakeNewName(dir, [&self](const std::string& name) {
      return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }, &temporary);
    if (link_err == 0) {
      const int err = Finish(fd, temporary, path);
      return err == 0 ? std::nullopt : std::optional<std::string>(Reason(err));
    }
    close(fd);
    // Without /proc (a minimal container) the unnamed file cannot be named:
    // a named one takes its place below.
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return Reason(errno);
  }

  // A new name created exclusively, held with the signals so that it is
  // either renamed over `path` or removed.
  const SignalsHeld held;
  std::string temporary;
  const int err = MakeNewName(dir, [&fd](const std::string& name) {
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd < 0 ? errno : 0;
  }, &temporary);
  if (err != 0) return Reason(err);
  if (const int fill_err = Fill(fd, bytes, replaced)) {
    close(fd);
    unlink(temporary.c_str());
    return Reason(fill_err);
  }
  if (const int finish_err = Finish(fd, temporary, path)) return Reason(finish_err);
  return std::nullopt;
}

}  // namespace hostprobe
