#include "app/window_program.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace hostprobe {

std::optional<int> ParseShownFd(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int>(value);
}
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Connects to a local socket, in the abstract namespace or at a path.
bool UnixAnswers(const std::string& name, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (name.empty() || offset + name.size() + 1 > sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + name.size() + !abstract);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}

// Connects to a TCP port, waiting at most one second.
bool TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a && !ok; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      ok = true;
    } else if (errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      ok = ::poll(&p, 1, 1000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return ok;
}

// An X display "[host]:N[.S]": its local socket, or TCP port 6000 + N.
bool X11Answers(const std::string& display) {
  const auto colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  if (host.empty() || host == "unix") {
    const std::string socket = "/tmp/.X11-unix/X" + number;
    return UnixAnswers(socket, true) || UnixAnswers(socket, false);
  }
  return TcpAnswers(host, 6000 + std::stoi(number));
}

bool WaylandAnswers(const std::string& display) {
  if (display.empty()) return false;
  if (display[0] == '/') return UnixAnswers(display, false);
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  return !runtime.empty() && UnixAnswers(runtime + "/" + display, false);
}

}  // namespace

bool DisplayAnswers() { return WaylandAnswers(Env("WAYLAND_DISPLAY")) || X11Answers(Env("DISPLAY")); }

namespace {

// Starts `program` with `args` as a child that reports on `shown_fd` once its
// window is up. Returns the child's pid, or -1.
pid_t StartWindowProgram(const std::string& program, std::vector<std::string> args, int shown_fd) {
  // Everything the child needs is made before fork: between fork and exec it
  // only calls what is safe in a copy of a threaded process.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, kWindowShownFdVariable, std::strlen(kWindowShownFdVariable)) == 0 &&
        (*e)[std::strlen(kWindowShownFdVariable)] == '=') {
      continue;
    }
    env_strings.emplace_back(*e);
  }
  env_strings.push_back(std::string(kWindowShownFdVariable) + "=" + std::to_string(shown_fd));
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();

  const pid_t child = ::fork();
  if (child != 0) return child;
  // The window goes when hostprobe goes.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(kWindowNotStartedExit);
  ::signal(SIGPIPE, SIG_DFL);
  ::signal(SIGXFSZ, SIG_DFL);
  ::fcntl(shown_fd, F_SETFD, 0);
  ::execve(program.c_str(), argv.data(), envp.data());
  ::_exit(kWindowNotStartedExit);
}

}  // namespace

std::optional<int> OpenWindowProgram(const std::optional<std::string>& replay) {
  // A display that is set but does not answer (a stale one over ssh, say)
  // gets the console rather than a window program that cannot start.
  if (!DisplayAnswers()) return std::nullopt;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  // Beside hostprobe (the build tree), or in the installed libexec directory.
  const std::filesystem::path dir = self.parent_path();
  for (const std::filesystem::path& program :
       {dir / "hostprobe-window",
        (dir / ".." / "libexec" / "hostprobe" / "hostprobe-window").lexically_normal()}) {
    if (::access(program.c_str(), X_OK) != 0) continue;
    std::vector<std::string> args = {program.string()};
    if (replay) {
      args.push_back("--replay");
      args.push_back(*replay);
    }
    // A display can answer and still not work (a socket left by ssh -X whose
    // client has no X server, an X server refusing our authorization): the
    // console is chosen unless the window program says its window is up.
    int shown[2];
    if (::pipe2(shown, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t child = StartWindowProgram(program.string(), args, shown[1]);
    ::close(shown[1]);
    if (child < 0) {
      ::close(shown[0]);
      return std::nullopt;
    }
    char byte = 0;
    ssize_t n;
    do {
      n = ::read(shown[0], &byte, 1);
    } while (n < 0 && errno == EINTR);
    ::close(shown[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (n != 1) {
      // Ended before showing a window: no display after all, or no program.
      const bool no_window = (WIFEXITED(status) && (WEXITSTATUS(status) == kWindowNoDisplayExit ||
                                                    WEXITSTATUS(status) == kWindowNotStartedExit)) ||
                             (WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
      if (no_window) continue;
    }
    if (WIFSIGNALED(status)) {
      // Ended by a signal (Ctrl-C on the terminal): end the same way.
      ::signal(WTERMSIG(status), SIG_DFL);
      ::raise(WTERMSIG(status));
      return 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }
  return std::nullopt;
}

}  // namespace hostprobe
