#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <vector>

#include "session/log_writer.h"
#include "platform/error.h"
#include "platform/live/live.h"
#include "program_linux.h"
#include "test_util.h"

extern char** environ;

namespace hostprobe {
namespace {

using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;
using namespace std::string_literals;

class FixedClock : public Clock {
 public:
  std::string GeneralDate() override { return "6.12.2026 1:11:54"; }
  std::string ThousandsSeparator() override { return ","; }
};

TEST(LogFileTest, AppendsRecordsBytesUnchanged) {
  ScratchDir dir;
  WriteFile("TEST_OUT.TXT", "earlier\r\n");
  auto file = MakeLogFile();
  FixedClock clock;
  LogWriter log(*file, clock);
  log.WriteLog(std::string("4.\tFalse"));
  log.WriteLog("1.\ta \"quoted\"\0NUL\r\nsecond line\t\xE9"s);
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"),
            "earlier\r\n\"6.12.2026 1:11:54\t4.\tFalse\"\r\n"
            "\"6.12.2026 1:11:54\t1.\ta \"quoted\"\0NUL\r\nsecond line\t\xE9\"\r\n"s);
}

TEST(LogFileTest, FailuresNameTheFileAndTheReason) {
  ScratchDir dir;
  auto file = MakeLogFile();
  // A device is no log, even one that takes writes.
  std::filesystem::create_symlink("/dev/full", "TEST_OUT.TXT");
  try {
    file->Append("x");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kFile);
    EXPECT_STREQ(e.what(), "file error: cannot open TEST_OUT.TXT: not a regular file");
  }
  std::filesystem::remove("TEST_OUT.TXT");
  std::filesystem::create_directory("TEST_OUT.TXT");
  try {
    file->Append("x");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "file error: cannot open TEST_OUT.TXT: Is a directory");
  }
}

TEST(LogFileTest, ReadOnlyDirectory) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  ScratchDir dir;
  std::filesystem::create_directory("ro");
  std::filesystem::permissions("ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  std::filesystem::current_path("ro");
  try {
    MakeLogFile()->Append("x");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "file error: cannot open TEST_OUT.TXT: Permission denied");
  }
}

// Two processes appending passes to one log at the same time leave whole
// records: every record is written by one write call on an O_APPEND file.
TEST(LogFileTest, ConcurrentPassesNeverInterleaveRecords) {
  ScratchDir dir;
  // One pass alone gives the nine records every later pass repeats.
  const std::string pass = std::string(HOSTPROBE_EXE) + " --replay " +
                           testing::Fixture("probes_vmware.json") + " --pass 1 >/dev/null";
  ASSERT_EQ(std::system(pass.c_str()), 0);
  const std::vector<std::string> records = testing::SplitRecords(ReadFile("TEST_OUT.TXT"));
  ASSERT_EQ(records.size(), 9u);
  std::filesystem::remove("TEST_OUT.TXT");

  const std::string loop = "for i in $(seq 50); do " + pass + " || exit 1; done";
  ASSERT_EQ(std::system(("(" + loop + ") & (" + loop + ") & wait %1 && wait %2").c_str()), 0);

  const std::string log = ReadFile("TEST_OUT.TXT");
  std::vector<int> seen(records.size());
  std::size_t whole = 0;
  for (std::size_t at = 0; at < log.size();) {
    std::size_t k = 0;
    while (k < records.size() && log.compare(at, records[k].size(), records[k]) != 0) ++k;
    ASSERT_LT(k, records.size()) << "no whole record at byte " << at;
    ++seen[k];
    ++whole;
    at += records[k].size();
  }
  EXPECT_EQ(whole, 900u);
  for (int count : seen) EXPECT_EQ(count, 100);
}

// A snapshot of `count` adapters: its first record, the adapter report, is
// about 455 bytes an adapter (15 MB for 32,767).
void WriteManyAdapters(const std::string& path, int count) {
  std::string text = R"({ "hostprobe_snapshot": 1, "timestamp": "6.12.2026 1:11:54", "adapters": { "records": [)";
  for (int i = 0; i < count; ++i) {
    char record[256];
    std::snprintf(record, sizeof record,
                  R"(%s{ "description": "Adapter %05d", "address_length": 6, "address": "02-00-00-00-%02X-%02X",)"
                  R"( "ip_address_list": { "ip_address": "10.0.%d.%d", "ip_mask": "255.255.0.0" } })",
                  i == 0 ? "" : ",", i, (i >> 8) & 255, i & 255, (i >> 8) & 255, i & 255);
    text += record;
  }
  text += "] } }";
  WriteFile(path, text);
}

// The log is the first records of `full`, whole: it ends where one of them
// ends.
::testing::AssertionResult WholeRecordsOf(const std::string& log, const std::string& full) {
  if (log.empty()) return ::testing::AssertionSuccess();
  if (full.compare(0, log.size(), log) != 0) return ::testing::AssertionFailure() << "not a part of the full log";
  if (log.size() == full.size() || full.compare(log.size() - 3, 4, "\"\r\n\"") == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the log of " << log.size() << " bytes ends inside a record";
}

// Another run writing its record holds the log: after the wait the run gives
// up, writing nothing.
TEST(LogFileTest, LogHeldByAnotherRunIsAnErrorAndStaysAsItWas) {
  ScratchDir dir;
  WriteFile("TEST_OUT.TXT", "earlier\r\n");
  // An open-file-description lock of another descriptor holds against ours,
  // as another process's would.
  const int other = open("TEST_OUT.TXT", O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(other, F_OFD_SETLK, &lock), 0);
  try {
    MakeLogFile(std::chrono::milliseconds(50))->Append("record\r\n");
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kFile);
    EXPECT_STREQ(e.what(), "file error: cannot write TEST_OUT.TXT: file locked by another process");
  }
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), "earlier\r\n");
  // Given up, the lock lets the next record in.
  close(other);
  MakeLogFile(std::chrono::milliseconds(50))->Append("record\r\n");
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), "earlier\r\nrecord\r\n");
}

// An append-only log (chattr +a) takes the part of a record that fits under a
// size limit and refuses the cut-back: the message says that a partial record
// stayed.
TEST(LogFileTest, CutBackThatFailsIsNamed) {
  ScratchDir dir;
  ASSERT_EQ(testing::RunProgram({"--replay", testing::Fixture("probes_vmware.json"), "--pass", "1"}).exit_code, 0);
  const std::string pass = ReadFile("TEST_OUT.TXT");
  const int fd = open("TEST_OUT.TXT", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int flags = 0;
  const bool append_only = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                           (flags |= FS_APPEND_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  const int err = errno;
  if (!append_only) {
    close(fd);
    GTEST_SKIP() << "this file system or user cannot make a file append-only: " << std::strerror(err);
  }
  testing::ChildSetup setup;
  setup.file_size_limit = pass.size() + 100;  // the second pass's first record does not fit
  const testing::Child run =
      testing::RunProgram({"--replay", testing::Fixture("probes_vmware.json"), "--pass", "1"}, setup);
  const std::string log = ReadFile("TEST_OUT.TXT");
  flags &= ~FS_APPEND_FL;
  ioctl(fd, FS_IOC_SETFLAGS, &flags);
  close(fd);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "hostprobe: error: file error: cannot write TEST_OUT.TXT: File too large"
            " and the partial record could not be removed: Operation not permitted\n");
  EXPECT_EQ(log, pass + pass.substr(0, 100));
}

// A signal that would end the run, sent while a 15 MB record is written,
// ends it once the record is whole, with the signal's own exit status.
TEST(LogFileTest, SignalsWaitUntilTheRecordIsWhole) {
  ScratchDir dir;
  WriteManyAdapters("many.json", 32767);
  const std::vector<std::string> args = {HOSTPROBE_EXE, "--replay", "many.json", "--pass", "1"};
  ASSERT_EQ(testing::RunProgram({args.begin() + 1, args.end()}).exit_code, 0);
  const std::string full = ReadFile("TEST_OUT.TXT");
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGALRM}) {
    SCOPED_TRACE(strsignal(sig));
    std::filesystem::remove("TEST_OUT.TXT");
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // The child starts with every signal at its default action, unblocked.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    // The first record is the 15 MB one: once the log has a byte, it is on
    // its way.
    struct stat st {};
    int status = 0;
    while ((stat("TEST_OUT.TXT", &st) != 0 || st.st_size == 0) && waitpid(pid, &status, WNOHANG) == 0) {
    }
    kill(pid, sig);
    waitpid(pid, &status, 0);
    // Under a heavy load the run may have ended before the signal came.
    const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    EXPECT_TRUE(finished || (WIFSIGNALED(status) && WTERMSIG(status) == sig)) << "status " << status;
    EXPECT_TRUE(WholeRecordsOf(ReadFile("TEST_OUT.TXT"), full));
  }
}

// Eight runs side by side: seven append passes of small records while the
// eighth, under a file-size limit that its 15 MB record crosses, fails three
// times and takes its part record back each time. The seven keep every
// record, whole.
TEST(LogFileTest, EightWritersOneUnderASizeLimit) {
  ScratchDir dir;
  WriteManyAdapters("many.json", 32767);
  const std::string exe = HOSTPROBE_EXE;
  const std::string small = exe + " --replay " + testing::Fixture("probes_vmware.json") + " --pass 1 >/dev/null";
  ASSERT_EQ(std::system(small.c_str()), 0);
  const std::vector<std::string> records = testing::SplitRecords(ReadFile("TEST_OUT.TXT"));
  ASSERT_EQ(records.size(), 9u);
  std::filesystem::remove("TEST_OUT.TXT");

  // 12 MiB: more than the small records reach meanwhile, less than the big one.
  std::string script = "(ulimit -f 12288; for i in 1 2 3; do " + exe +
                       " --replay many.json --pass 1 >/dev/null 2>>limited.txt && exit 1; done; touch done) & ";
  for (int w = 0; w < 7; ++w) {
    script += "(while [ ! -e done ]; do " + small + " || exit 1; echo >>passes.txt; done) & ";
  }
  script += "st=0; for j in $(jobs -p); do wait $j || st=1; done; exit $st";
  ASSERT_EQ(std::system(("bash -c '" + script + "'").c_str()), 0) << ReadFile("limited.txt");
  std::string failures;
  for (int i = 0; i < 3; ++i) failures += "hostprobe: error: file error: cannot write TEST_OUT.TXT: File too large\n";
  EXPECT_EQ(ReadFile("limited.txt"), failures);
  const int passes = static_cast<int>(ReadFile("passes.txt").size());

  const std::string log = ReadFile("TEST_OUT.TXT");
  std::vector<int> seen(records.size());
  for (std::size_t at = 0; at < log.size();) {
    std::size_t k = 0;
    while (k < records.size() && log.compare(at, records[k].size(), records[k]) != 0) ++k;
    ASSERT_LT(k, records.size()) << "no whole record at byte " << at;
    ++seen[k];
    at += records[k].size();
  }
  for (int count : seen) EXPECT_EQ(count, passes);
}

}  // namespace
}  // namespace hostprobe
