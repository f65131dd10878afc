// The line on standard error after a run, when standard error is a terminal.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "program_linux.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Fixture;
using testing::ReadFile;
using testing::ScratchDir;

struct TerminalRun {
  int exit_code = -1;
  std::string out;       // the pipe on standard output
  std::string terminal;  // what the terminal on standard error showed
};

// Runs hostprobe with standard output on a pipe and standard error on a new
// terminal.
TerminalRun RunWithErrOnTerminal(const std::vector<std::string>& args) {
  int master = -1, tty = -1, out[2];
  if (openpty(&master, &tty, nullptr, nullptr, nullptr) != 0 || pipe(out) != 0) return {};
  std::vector<std::string> all = {HOSTPROBE_EXE};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out[1], 1);
    dup2(tty, 2);
    close(master);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(tty);
  TerminalRun run;
  run.out = testing::Drain(out[0]);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  fcntl(master, F_SETFL, O_NONBLOCK);
  run.terminal = testing::Drain(master);
  close(master);
  return run;
}

TEST(CliTerminalTest, OneLineSaysWhereTheRecordsWent) {
  ScratchDir dir;
  const std::string fixture = Fixture("probes_vmware.json");
  const testing::Child plain = testing::RunProgram({"--replay", fixture, "--pass", "1"});
  EXPECT_EQ(plain.exit_code, 0);
  EXPECT_EQ(plain.err, "");  // standard error is not a terminal: nothing
  const std::string log = ReadFile("TEST_OUT.TXT");

  const TerminalRun run = RunWithErrOnTerminal({"--replay", fixture, "--pass", "2"});
  EXPECT_EQ(run.exit_code, 0);
  const std::string path = std::filesystem::canonical("TEST_OUT.TXT").string();
  // The terminal turns LF into CR LF.
  EXPECT_EQ(run.terminal, "hostprobe: 9 records appended to " + path + "\r\n");
  const testing::Child pass2 = testing::RunProgram({"--replay", fixture, "--pass", "2"});
  EXPECT_EQ(run.out, pass2.out);  // standard output keeps exactly the progress lines
  EXPECT_EQ(ReadFile("TEST_OUT.TXT").size(), 3 * log.size());

  // Nothing appended, nothing said.
  const TerminalRun test = RunWithErrOnTerminal({"--replay", fixture, "--test"});
  EXPECT_EQ(test.exit_code, 0);
  EXPECT_EQ(test.terminal, "");
  const TerminalRun report = RunWithErrOnTerminal({"--replay", fixture, "--report"});
  EXPECT_EQ(report.terminal, "");

  // A run that ends with an error says how many records it did append.
  const TerminalRun failed = RunWithErrOnTerminal({"--replay", Fixture("probes_no_library.json"), "--pass", "1"});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_NE(failed.terminal.find("hostprobe: 3 records appended to " + path + "\r\n"), std::string::npos)
      << failed.terminal;
}

}  // namespace
}  // namespace hostprobe
