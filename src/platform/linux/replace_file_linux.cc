#include "platform/replace_file.h"

#include <errno.h>
#include <fcntl.h>
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

bool WriteAll(int fd, std::string_view bytes, int* err) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *err = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
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

  const std::string dir = DirectoryOf(path);
  // An unnamed file in the target's directory: a capture killed before the
  // rename leaves nothing behind. Where the file system cannot make one, a
  // new name created exclusively takes its place.
  std::string temporary;
  bool named = false;
  int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Reason(errno);
    const int err = MakeNewName(dir, [&fd](const std::string& name) {
      fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      return fd < 0 ? errno : 0;
    }, &temporary);
    if (err != 0) return Reason(err);
    named = true;
  }
  auto fail = [&](int err) -> std::optional<std::string> {
    close(fd);
    if (named) unlink(temporary.c_str());
    return Reason(err);
  };
  int err = 0;
  if (!WriteAll(fd, bytes, &err)) return fail(err);
  if (fsync(fd) != 0) return fail(errno);
  if (replacing) {
    if (fchmod(fd, old.st_mode & 07777) != 0) return fail(errno);
    if (geteuid() == 0 && fchown(fd, old.st_uid, old.st_gid) != 0) {
      // The owner is kept where it can be; the new file is still whole.
    }
  }
  if (!named) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int err = MakeNewName(dir, [&self](const std::string& name) {
      return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }, &temporary);
    if (err != 0) return fail(err);
    named = true;
  }
  if (close(fd) != 0) {
    const int close_err = errno;
    unlink(temporary.c_str());
    return Reason(close_err);
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const int rename_err = errno;
    unlink(temporary.c_str());
    return Reason(rename_err);
  }
  return std::nullopt;
}

}  // namespace hostprobe
