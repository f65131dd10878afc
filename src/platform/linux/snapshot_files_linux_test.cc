// Snapshot files that are not what they should be, read by the real program in
// a child process: special files, unusual names, too little memory.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "program_linux.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Child;
using testing::ChildSetup;
using testing::ReadFile;
using testing::RunProgram;
using testing::ScratchDir;
using testing::WriteFile;

constexpr char kSnapshot[] = "{\"hostprobe_snapshot\": 1, \"timestamp\": \"t\"}";

// Only a regular file is read. A FIFO (with or without a writer), a device,
// a socket or a directory is refused at once, before anything is read from
// it or written to the log.
TEST(SnapshotFilesTest, OnlyRegularFilesAreRead) {
  ScratchDir dir;
  ASSERT_EQ(mkfifo("fifo", 0644), 0);
  ASSERT_EQ(mkfifo("fed_fifo", 0644), 0);
  // A writer that keeps the FIFO open, holding a valid snapshot in it.
  const int writer = open("fed_fifo", O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, kSnapshot, sizeof kSnapshot - 1), static_cast<ssize_t>(sizeof kSnapshot - 1));
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "socket");
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  std::filesystem::create_directory("a_dir");
  std::filesystem::create_directory_symlink("a_dir", "dir_link");
  std::filesystem::create_symlink("fifo", "fifo_link");
  WriteFile("good.json", kSnapshot);
  std::filesystem::create_symlink("good.json", "good_link");

  const struct {
    std::string file, reason;  // reason empty: read
  } cases[] = {
      {"fifo", "it is not a regular file"},
      {"fed_fifo", "it is not a regular file"},
      {"fifo_link", "it is not a regular file"},
      {"/dev/null", "it is not a regular file"},
      {"/dev/zero", "it is not a regular file"},
      {"socket", "No such device or address"},  // a socket cannot be opened at all
      {"a_dir", "it is a directory"},
      {"dir_link", "it is a directory"},
      {"good_link", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Child r = RunProgram({"--replay", c.file, "--test"});
    ASSERT_EQ(r.signal, 0);
    if (c.reason.empty()) {
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, "Test Vmware : False\n");
      continue;
    }
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "hostprobe: " + c.file + ": cannot read the snapshot: " + c.reason + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
  close(writer);
  close(listener);
}

// A file that cannot be opened is refused with the system's reason, its name
// shown escaped.
TEST(SnapshotFilesTest, UnopenableFilesNameTheReason) {
  ScratchDir dir;
  WriteFile("not_a_dir", "");
  WriteFile("evil\n\x1b[2J.json", "[]");
  const std::string long_name(256, 'n');
  const struct {
    std::string file, message;
  } cases[] = {
      {long_name + ".json", long_name + ".json: cannot read the snapshot: File name too long"},
      {"missing.json", "missing.json: cannot read the snapshot: No such file or directory"},
      {"not_a_dir/x.json", "not_a_dir/x.json: cannot read the snapshot: Not a directory"},
      {"gone\n\x1b]0;title\x07.json",
       "gone\\n\\x1b]0;title\\x07.json: cannot read the snapshot: No such file or directory"},
      {"evil\n\x1b[2J.json", "evil\\n\\x1b[2J.json: top level: expected an object, found array"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const Child r = RunProgram({"--replay", c.file, "--pass", "1"});
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "hostprobe: " + c.message + "\n");
  }
}

// Out of memory while a snapshot is read is reported, not an abort: the
// document is taken apart without allocating. 32,767 adapters (8 MB of JSON)
// need about 85 MB; the limit gives 50.
TEST(SnapshotFilesTest, OutOfMemoryWhileReadingIsAnError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#endif
  ScratchDir dir;
  std::string text = "{\"hostprobe_snapshot\": 1, \"timestamp\": \"t\", \"adapters\": {\"records\": [";
  for (int i = 0; i < 32767; ++i) {
    text += std::string(i ? "," : "") + "{\"description\": \"Adapter " + std::to_string(i) +
            "\", \"address\": \"00-11-22-33-44-55\", \"adapter_name\": \"{" + std::to_string(100000000 + i) +
            "-AAAA-BBBB-CCCC-DDDDDDDDDDDD}\", \"type\": 6, \"ip_address_list\": {\"ip_address\": \"10.0.0.1\", "
            "\"ip_mask\": \"255.0.0.0\"}, \"gateway_list\": {\"ip_address\": \"10.0.0.254\"}}";
  }
  text += "]}}";
  WriteFile("big.json", text);
  ChildSetup setup;
  setup.address_space = 50'000 * 1024;
  const Child r = RunProgram({"--replay", "big.json", "--pass", "1"}, setup);
  ASSERT_EQ(r.signal, 0) << r.err;
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "hostprobe: error: out of memory\n");
  EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
}

}  // namespace
}  // namespace hostprobe
