// Running the built hostprobe as a child process in Linux tests: its output,
// how it ended, under limits of its own, and never waited on for good.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hostprobe::testing {

struct Child {
  int exit_code = -1;  // -1: ended by a signal
  int signal = 0;
  bool timed_out = false;
  std::string out;
  std::string err;
};

struct ChildSetup {
  std::optional<rlim_t> file_size_limit;
  std::optional<rlim_t> address_space;  // bytes
  bool closed_stdout = false;  // standard output is a pipe nobody reads
  std::string stdin_path = "/dev/null";
  bool stderr_on_terminal = false;  // standard error is a new terminal; `err` is what it showed
};

inline std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// Runs hostprobe with `args` in the current directory, killing it after a
// minute: nothing waits on a stuck process for good.
inline Child RunProgram(const std::vector<std::string>& args, const ChildSetup& setup = {}) {
  int out[2], err[2];
  if (pipe(out) != 0) return {};
  if (setup.stderr_on_terminal) {
    // err[0] is the terminal's master side, err[1] the terminal itself.
    if (openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0) return {};
  } else if (pipe(err) != 0) {
    return {};
  }
  if (setup.closed_stdout) close(out[0]);
  std::vector<std::string> all = {HOSTPROBE_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(setup.stdin_path.c_str(), O_RDONLY | O_NONBLOCK);
    dup2(in, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (setup.file_size_limit) {
      const rlimit limit{*setup.file_size_limit, *setup.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (setup.address_space) {
      const rlimit limit{*setup.address_space, *setup.address_space};
      setrlimit(RLIMIT_AS, &limit);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  Child c;
  if (!setup.closed_stdout) fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (!setup.closed_stdout) c.out += Drain(out[0]);
    c.err += Drain(err[0]);
    if (std::chrono::steady_clock::now() > deadline) {
      c.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!setup.closed_stdout) {
    c.out += Drain(out[0]);
    close(out[0]);
  }
  c.err += Drain(err[0]);
  close(err[0]);
  if (WIFSIGNALED(status)) c.signal = WTERMSIG(status);
  c.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return c;
}

}  // namespace hostprobe::testing
