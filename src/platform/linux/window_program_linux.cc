#include "platform/window_program.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace hostprobe {
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
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    // Not started after all: try the next place, then the console.
  }
  return std::nullopt;
}

}  // namespace hostprobe
