#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/log_writer.h"
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
  // A full disk: writes to /dev/full fail with ENOSPC.
  std::filesystem::create_symlink("/dev/full", "TEST_OUT.TXT");
  try {
    file->Append("x");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kFile);
    EXPECT_STREQ(e.what(), "file error: cannot write TEST_OUT.TXT: No space left on device");
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

}  // namespace
}  // namespace hostprobe
