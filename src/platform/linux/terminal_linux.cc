#include <termios.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace hostprobe {

std::shared_ptr<void> EnterKeyMode() {
  if (!isatty(STDIN_FILENO)) return nullptr;
  auto saved = std::make_shared<termios>();
  if (tcgetattr(STDIN_FILENO, saved.get()) != 0) return nullptr;
  termios raw = *saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return nullptr;
  return std::shared_ptr<void>(saved.get(), [saved](void*) {
    tcsetattr(STDIN_FILENO, TCSANOW, saved.get());
  });
}

}  // namespace hostprobe
