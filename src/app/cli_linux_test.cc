// The command-line program under hostile conditions: a closed output pipe, a
// file-size limit, a FIFO where the log would be, captures into a shared
// directory. Each case runs the built program as a child and never waits on
// it without a deadline.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/window_program.h"
#include "program_linux.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Child;
using testing::ChildSetup;
using testing::Fixture;
using testing::RunProgram;
using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// The nine records one pass over the fixture writes, as a whole log and
// split at record ends.
std::vector<std::string> PassRecords(const std::string& fixture) {
  ScratchDir dir;
  const Child c = RunProgram({"--replay", Fixture(fixture), "--pass", "1"});
  EXPECT_EQ(c.exit_code, 0) << c.err;
  const std::vector<std::string> records = testing::SplitRecords(ReadFile("TEST_OUT.TXT"));
  EXPECT_EQ(records.size(), 9u);
  return records;
}

std::string Join(const std::vector<std::string>& records, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count && i < records.size(); ++i) text += records[i];
  return text;
}

// Standard output that nobody reads any more (`hostprobe --pass 1 | head -c
// 1`) does not cut the run short: all nine records are written, then the run
// fails with the reason.
// The descriptor the window program writes its "shown" byte on, as the
// environment names it: read strictly, never a guess.
TEST(WindowProgramTest, ShownDescriptorIsReadStrictly) {
  const struct {
    const char* text;
    std::optional<int> fd;
  } cases[] = {
      {"0", 0},          {"7", 7},         {"2147483647", 2147483647}, {"007", 7},
      {"", std::nullopt}, {"-1", std::nullopt}, {"+3", std::nullopt}, {" 3", std::nullopt},
      {"3 ", std::nullopt}, {"3x", std::nullopt}, {"x", std::nullopt}, {"2147483648", std::nullopt},
      {"99999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseShownFd(c.text), c.fd) << "'" << c.text << "'";
}

TEST(HostileTest, ClosedOutputPipeStillWritesEveryRecord) {
  const auto records = PassRecords("probes_vmware.json");
  ScratchDir dir;
  ChildSetup setup;
  setup.closed_stdout = true;
  const Child c = RunProgram({"--replay", Fixture("probes_vmware.json"), "--pass", "1"}, setup);
  EXPECT_EQ(c.signal, 0);
  EXPECT_EQ(c.exit_code, 1);
  EXPECT_EQ(c.err, "hostprobe: error: cannot write to standard output\n");
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), Join(records, 9));
}

// A file-size limit (or a full disk) that a record runs into: the log keeps
// the records before it whole, the torn part is cut off, and the run fails
// with the reason instead of being killed.
TEST(HostileTest, RecordsAreWrittenWholeOrNotAtAll) {
  const auto records = PassRecords("probes_vmware.json");
  ASSERT_EQ(records.size(), 9u);
  const std::size_t two = Join(records, 2).size();
  const struct {
    const char* name;
    rlim_t limit;
    std::size_t kept;  // whole records left in the log
  } cases[] = {
      {"no room at all", 0, 0},
      {"room for part of record 1", 5, 0},
      {"room for records 1 and 2 exactly", two, 2},
      {"room for part of record 3", two + records[2].size() / 2, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ChildSetup setup;
    setup.file_size_limit = c.limit;
    const Child run = RunProgram({"--replay", Fixture("probes_vmware.json"), "--pass", "1"}, setup);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "hostprobe: error: file error: cannot write TEST_OUT.TXT: File too large\n");
    EXPECT_EQ(ReadFile("TEST_OUT.TXT"), Join(records, c.kept));
    // The next run appends whole records after them.
    EXPECT_EQ(RunProgram({"--replay", Fixture("probes_vmware.json"), "--pass", "1"}).exit_code, 0);
    EXPECT_EQ(ReadFile("TEST_OUT.TXT"), Join(records, c.kept) + Join(records, 9));
  }
}

// A disk that fills up while passes append to the log: the run that finds
// no room fails with the reason, and the log holds whole records only. The
// disk is a small tmpfs in a mount namespace of the child's own.
TEST(HostileTest, FullDiskLeavesWholeRecords) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const auto records = PassRecords("probes_vmware.json");
  ScratchDir dir;
  std::filesystem::create_directory("disk");
  const pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("hostprobe-test", "disk", "tmpfs", 0, "size=8k") != 0) {
      _exit(77);
    }
    if (chdir("disk") != 0) _exit(78);
    const std::string pass = std::string(HOSTPROBE_EXE) + " --replay " + Fixture("probes_vmware.json") +
                             " --pass 1 >/dev/null 2>../err.out";
    for (int i = 0; i < 100; ++i) {
      if (std::system(pass.c_str()) != 0) break;
    }
    // Copy the log out of the namespace before its disk goes.
    WriteFile("../log.out", ReadFile("TEST_OUT.TXT"));
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile("err.out"), "hostprobe: error: file error: cannot write TEST_OUT.TXT: No space left on device\n");
  const std::string log = ReadFile("log.out");
  const std::string run = Join(records, 9);
  const std::size_t runs = log.size() / run.size();
  EXPECT_GT(runs, 0u);
  std::size_t kept = 0;
  while (kept < 9 && Join(records, kept + 1).size() <= log.size() - runs * run.size()) ++kept;
  std::string expected;
  for (std::size_t i = 0; i < runs; ++i) expected += run;
  EXPECT_EQ(log, expected + Join(records, kept));
}

// A log that would block or is no file at all: refused at once.
TEST(HostileTest, NonRegularLogsAreRefusedWithoutBlocking) {
  const auto make_fifo = [] { ASSERT_EQ(mkfifo("TEST_OUT.TXT", 0644), 0); };
  const auto make_link_to_device = [] { std::filesystem::create_symlink("/dev/zero", "TEST_OUT.TXT"); };
  const struct {
    const char* name;
    std::function<void()> make;
  } cases[] = {{"a FIFO nobody reads", make_fifo}, {"a link to a device", make_link_to_device}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    c.make();
    const Child run = RunProgram({"--replay", Fixture("probes_vmware.json"), "--pass", "1"});
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "SOUBOR TESTŮ: 1\nStart testu č.1\n");
    EXPECT_EQ(run.err, "hostprobe: error: file error: cannot open TEST_OUT.TXT: not a regular file\n");
  }
}

// Console input that cannot be read is an error, not a quiet Konec.
TEST(HostileTest, UnreadableConsoleInputIsAnError) {
  ScratchDir dir;
  ChildSetup setup;
  setup.stdin_path = "/";
  const Child c = RunProgram({"--replay", Fixture("probes_vmware.json"), "--console"}, setup);
  EXPECT_EQ(c.exit_code, 1);
  EXPECT_EQ(c.err, "hostprobe: error: file error: cannot read standard input: Is a directory\n");
}

// The console ends by SIGTERM as the signal says, not as a success.
TEST(HostileTest, TerminatedConsoleEndsByTheSignal) {
  ScratchDir dir;
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const std::string fixture = Fixture("probes_vmware.json");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(input[0], 0);
    close(input[1]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(HOSTPROBE_EXE, "hostprobe", "--console", "--replay", fixture.c_str(), nullptr);
    _exit(127);
  }
  close(input[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close(input[1]);
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "still running after SIGTERM";
  }
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

// Captures into a directory others can write to: nothing planted there is
// written through or lost, and a file the user may not write is refused.
TEST(HostileTest, CapturesNeverWriteThroughPlantedNamesOrOverReadOnlyFiles) {
  ScratchDir dir;
  const std::string fixture = Fixture("probes_vmware.json");
  WriteFile("victim", "precious");
  WriteFile("snap.json.tmp", "the user's own");
  std::filesystem::create_symlink("victim", "planted.json.tmp");
  std::filesystem::create_hard_link("victim", "hard.json.tmp");
  for (const char* target : {"snap.json", "planted.json", "hard.json"}) {
    SCOPED_TRACE(target);
    const Child c = RunProgram({"--replay", fixture, "--capture", target});
    EXPECT_EQ(c.exit_code, 0) << c.err;
    EXPECT_EQ(ReadFile(target).rfind("{\n  \"hostprobe_snapshot\": 1,", 0), 0u);
  }
  EXPECT_EQ(ReadFile("victim"), "precious");
  EXPECT_EQ(ReadFile("snap.json.tmp"), "the user's own");

  // The replaced file keeps its permissions.
  ASSERT_EQ(chmod("snap.json", 0640), 0);
  EXPECT_EQ(RunProgram({"--replay", fixture, "--capture", "snap.json"}).exit_code, 0);
  struct stat st {};
  ASSERT_EQ(stat("snap.json", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // Refusals name the reason; the file and the directory stay as they were.
  WriteFile("readonly.json", "kept");
  ASSERT_EQ(chmod("readonly.json", 0444), 0);
  std::filesystem::create_directory("adir");
  const std::string long_name(300, 'n');
  const struct {
    std::string target;
    std::string message;
  } refusals[] = {
      {"readonly.json", "hostprobe: error: cannot write the snapshot readonly.json: Permission denied\n"},
      {"adir", "hostprobe: error: cannot write the snapshot adir: Is a directory\n"},
      {"nodir/x.json", "hostprobe: error: cannot write the snapshot nodir/x.json: No such file or directory\n"},
      {long_name, "hostprobe: error: cannot write the snapshot " + long_name + ": File name too long\n"},
      {"new\nline\x1b[31m.json",
       "hostprobe: error: cannot write the snapshot new\\nline\\x1b[31m.json/x: No such file or directory\n"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.target);
    std::string target = r.target;
    if (target.find('\n') != std::string::npos) target += "/x";  // a directory that does not exist
    const Child c = RunProgram({"--replay", fixture, "--capture", target});
    EXPECT_EQ(c.exit_code, 1);
    EXPECT_EQ(c.err, r.message);
  }
  EXPECT_EQ(ReadFile("readonly.json"), "kept");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"adir", "hard.json", "hard.json.tmp", "planted.json",
                                             "planted.json.tmp", "readonly.json", "snap.json", "snap.json.tmp",
                                             "victim"}));
}

}  // namespace
}  // namespace hostprobe
