#include "platform/window_program.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace hostprobe {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

std::optional<int> OpenWindowProgram(const std::optional<std::string>& replay) {
  if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) return std::nullopt;
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
