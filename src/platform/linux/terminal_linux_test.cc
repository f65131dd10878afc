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

// The console on a terminal reads key by key; Ctrl-C ends it with the
// terminal's line editing and echo restored.
TEST(TerminalTest, InterruptRestoresTheTerminal) {
  testing::ScratchDir dir;
  int master = -1, tty = -1;
  ASSERT_EQ(openpty(&master, &tty, nullptr, nullptr, nullptr), 0);
  const std::string fixture = testing::Fixture("probes_vmware.json");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
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
  ASSERT_TRUE(KeyMode(tty));
  ASSERT_EQ(write(master, "\x03", 1), 1);
  int status = 0;
  for (int i = 0; i < 500 && waitpid(child, &status, WNOHANG) == 0; ++i) {
    while (read(master, drain, sizeof drain) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  termios t{};
  ASSERT_EQ(tcgetattr(tty, &t), 0);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
  close(master);
  close(tty);
}

}  // namespace
}  // namespace hostprobe
