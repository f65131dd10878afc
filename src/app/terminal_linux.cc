#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "app/terminal.h"

namespace hostprobe {
namespace {

// The terminal settings to restore, and the signals that would otherwise end
// or stop the program with the terminal still in key mode.
termios g_saved;
termios g_keys;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
// What each signal did before key mode: saved once on entering it, and only
// ever restored from, so no sequence of signals can save our own handler here.
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];
struct sigaction g_ours;

// Restores the terminal, then lets the signal do what it did before. A stop
// (Ctrl-Z) comes back here on SIGCONT and returns to key mode.
void OnSignal(int signal) {
  const int saved_errno = errno;
  tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (kSignals[i] == signal) sigaction(signal, &g_previous[i], nullptr);
  }
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  // Still running: the signal was a stop and the program has been continued
  // (or the earlier disposition ignored it). Take this one signal back.
  sigaction(signal, &g_ours, nullptr);
  tcsetattr(STDIN_FILENO, TCSANOW, &g_keys);
  errno = saved_errno;
}

void Install(void (*handler)(int)) {
  g_ours = {};
  g_ours.sa_handler = handler;
  sigemptyset(&g_ours.sa_mask);
  // While one signal is handled, the others wait: the handler restores and
  // re-takes dispositions that they would otherwise race with.
  for (int signal : kSignals) sigaddset(&g_ours.sa_mask, signal);
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &g_ours, &g_previous[i]);
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
