#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_util.h"

namespace hostprobe {
namespace {

bool KeyMode(int tty) {
  termios t{};
  return tcgetattr(tty, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0;
}

struct Ending {
  int exit_code;  // or -1: ended by the signal
  int signal;
};

// Runs the console on a new terminal, waits for key mode, types `key` and
// returns how the program ended; `*restored` tells whether the terminal got
// its line editing and echo back.
Ending TypeKey(char key, bool* restored) {
  int master = -1, tty = -1;
  if (openpty(&master, &tty, nullptr, nullptr, nullptr) != 0) return {-2, 0};
  const std::string fixture = testing::Fixture("probes_vmware.json");
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    ioctl(tty, TIOCSCTTY, 0);
    dup2(tty, 0);
    dup2(tty, 1);
    dup2(tty, 2);
    close(master);
    execl(HOSTPROBE_EXE, "hostprobe", "--console", "--replay", fixture.c_str(), nullptr);
    _exit(127);
  }
  fcntl(master, F_SETFL, O_NONBLOCK);
  char drain[4096];
  for (int i = 0; i < 500 && !KeyMode(tty); ++i) {
    while (read(master, drain, sizeof drain) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(KeyMode(tty));
  EXPECT_EQ(write(master, &key, 1), 1);
  int status = 0;
  for (int i = 0; i < 500 && waitpid(child, &status, WNOHANG) == 0; ++i) {
    while (read(master, drain, sizeof drain) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  termios t{};
  *restored = tcgetattr(tty, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
  close(master);
  close(tty);
  if (WIFSIGNALED(status)) return {-1, WTERMSIG(status)};
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -2, 0};
}

// The console on a terminal reads key by key; Ctrl-D ends it like Konec, and
// Ctrl-C ends it by the signal; either way the terminal is as it was.
TEST(TerminalTest, EndingTheConsoleRestoresTheTerminal) {
  testing::ScratchDir dir;
  bool restored = false;
  Ending e = TypeKey('\x04', &restored);
  EXPECT_EQ(e.exit_code, 0);
  EXPECT_TRUE(restored);
  e = TypeKey('\x03', &restored);
  EXPECT_EQ(e.exit_code, -1);
  EXPECT_EQ(e.signal, SIGINT);
  EXPECT_TRUE(restored);
}

}  // namespace
}  // namespace hostprobe
