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

namespace hostprobe::testing {
namespace {
std::string PrintableKeys(const std::string& keys) {
  std::string out;
  for (const char key : keys) out += "^" + std::string(1, static_cast<char>(key + '@'));
  return out;
}
}  // namespace
}  // namespace hostprobe::testing

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

// Runs the console on a new terminal, waits for key mode, types `keys` one
// by one (each once the console is back in key mode) and returns how the
// program ended; `*restored` tells whether the terminal got its line editing
// and echo back.
Ending TypeKeys(const std::string& keys, bool* restored) {
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
  for (const char key : keys) {
    for (int i = 0; i < 500 && !KeyMode(tty); ++i) {
      while (read(master, drain, sizeof drain) > 0) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(KeyMode(tty));
    EXPECT_EQ(write(master, &key, 1), 1);
    if (key == '\x1a') {
      // A stop: continue the program as a shell's fg would.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      kill(child, SIGCONT);
    }
  }
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
// Ctrl-C ends it by the signal, also after any number of stops and
// continues; either way the terminal is as it was.
TEST(TerminalTest, EndingTheConsoleRestoresTheTerminal) {
  testing::ScratchDir dir;
  const struct {
    const char* keys;
    Ending ending;
  } cases[] = {
      {"\x04", {0, 0}},
      {"\x03", {-1, SIGINT}},
      {"\x1a\x03", {-1, SIGINT}},
      {"\x1a\x1a\x04", {0, 0}},
      {"\x1a\x1a\x1c", {-1, SIGQUIT}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintableKeys(c.keys));
    bool restored = false;
    const Ending e = TypeKeys(c.keys, &restored);
    EXPECT_EQ(e.exit_code, c.ending.exit_code);
    EXPECT_EQ(e.signal, c.ending.signal);
    EXPECT_TRUE(restored);
  }
}

}  // namespace
}  // namespace hostprobe
