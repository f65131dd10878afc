#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace hostprobe {
namespace {

// The terminal settings to restore, and the signals that would otherwise end
// or stop the program with the terminal still in key mode.
termios g_saved;
termios g_keys;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];

void Install(void (*handler)(int));

// Restores the terminal, then lets the signal do what it did before. A stop
// (Ctrl-Z) comes back here on SIGCONT and returns to key mode.
void OnSignal(int signal) {
  tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (kSignals[i] == signal) sigaction(signal, &g_previous[i], nullptr);
  }
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  // Still running: the signal was a stop and the program has been continued.
  Install(OnSignal);
  tcsetattr(STDIN_FILENO, TCSANOW, &g_keys);
}

void Install(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &action, &g_previous[i]);
  }
}

void Uninstall() {
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &g_previous[i], nullptr);
  }
}

}  // namespace

std::shared_ptr<void> EnterKeyMode() {
  if (!isatty(STDIN_FILENO)) return nullptr;
  if (tcgetattr(STDIN_FILENO, &g_saved) != 0) return nullptr;
  g_keys = g_saved;
  g_keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  g_keys.c_cc[VMIN] = 1;
  g_keys.c_cc[VTIME] = 0;
  Install(OnSignal);
  if (tcsetattr(STDIN_FILENO, TCSANOW, &g_keys) != 0) {
    Uninstall();
    return nullptr;
  }
  static int token;
  return std::shared_ptr<void>(&token, [](void*) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    Uninstall();
  });
}

}  // namespace hostprobe
