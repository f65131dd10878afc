#include <windows.h>

#include "app/terminal.h"

namespace hostprobe {

std::shared_ptr<void> EnterKeyMode() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return nullptr;
  if (!SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT))) return nullptr;
  auto saved = std::make_shared<DWORD>(mode);
  return std::shared_ptr<void>(saved.get(), [saved, in](void*) { SetConsoleMode(in, *saved); });
}

}  // namespace hostprobe
