#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "session/log_writer.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "test_util.h"

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

}  // namespace
}  // namespace hostprobe
