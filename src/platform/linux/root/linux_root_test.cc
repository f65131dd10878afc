// The Linux sources' view of the file system: paths of the machine under a
// root, and reading its files whole (every byte of files past the size a
// reader once stopped at, nothing from what is not a regular file, an error
// naming a file too large to be sane).
#include "platform/linux/root/linux_root.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/error.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::ScratchDir;
using testing::WriteFile;

// mountinfo of 12,000 mounts: about 1.4 MiB, more than a reader capped at
// 1 MiB would return.
std::string ManyMounts() {
  std::string text;
  for (int i = 0; i < 12000; ++i) {
    text += std::to_string(100 + i) + " 1 0:" + std::to_string(50 + i) + " / /mnt/m" + std::to_string(i) +
            " rw,relatime shared:1 - tmpfs tmpfs rw,size=1024k,mode=755,inode64\n";
  }
  return text;
}

TEST(ReadWholeFileTest, RegularFilesWholeAndNothingElse) {
  ScratchDir dir;
  const std::string big = ManyMounts();
  ASSERT_GT(big.size(), std::size_t{1} << 20);
  WriteFile("mountinfo", big);
  WriteFile("empty", "");
  WriteFile("nul", std::string("a\0b\n", 4));
  ASSERT_EQ(mkfifo("fifo", 0600), 0);  // no writer: opening it to read would wait forever
  ASSERT_EQ(mkdir("dir", 0700), 0);
  ASSERT_EQ(symlink("nul", "link"), 0);

  struct Case {
    const char* path;
    std::optional<std::string> bytes;
  } cases[] = {
      {"mountinfo", big},
      {"empty", ""},
      {"nul", std::string("a\0b\n", 4)},
      {"link", std::string("a\0b\n", 4)},
      {"fifo", std::nullopt},
      {"dir", std::nullopt},
      {"missing", std::nullopt},
      {"/dev/null", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ReadWholeFile(c.path), c.bytes);
  }
  // procfs gives its files the size 0; they are read to their end all the same.
  const std::optional<std::string> self = ReadWholeFile("/proc/self/mountinfo");
  ASSERT_TRUE(self.has_value());
  EXPECT_FALSE(self->empty());
  EXPECT_EQ(self->back(), '\n');
}

TEST(ReadWholeFileTest, TooLargeIsAnErrorNamingTheFile) {
  ScratchDir dir;
  // A sparse file one byte over the bound: found by its size, never read.
  const int fd = open("huge\nname", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxWholeFile) + 1), 0);
  close(fd);
  WriteFile("two", std::string(std::size_t{2} << 20, 'x'));
  struct Case {
    const char* path;
    std::size_t limit;
    const char* error;  // nullptr: read whole
  } cases[] = {
      {"huge\nname", kMaxWholeFile, "reading huge\\nname: larger than 64 MiB"},
      {"two", std::size_t{2} << 20, nullptr},
      {"two", (std::size_t{2} << 20) - 1, "reading two: larger than 2097151 bytes"},
      // Size 0 as procfs gives it: found too large only as it is read.
      {"/proc/self/mountinfo", std::size_t{16}, "reading /proc/self/mountinfo: larger than 16 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      const std::optional<std::string> bytes = ReadWholeFile(c.path, c.limit);
      EXPECT_EQ(c.error, nullptr) << "read " << (bytes ? bytes->size() : 0) << " bytes";
      EXPECT_EQ(bytes.value_or("").size(), c.limit);
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kPlatform);
      EXPECT_EQ(e.detail(), c.error ? c.error : "");
    }
  }
}

TEST(LinuxRootTest, PathsOfTheMachineUnderItsRoot) {
  ScratchDir dir;
  const std::string tree = (dir.path() / "machine").string();
  std::filesystem::create_directories(tree + "/sys/class/net/eth0");
  std::filesystem::create_directories(tree + "/sys/class/net/.hidden");
  WriteFile(tree + "/sys/class/net/eth0/address", "52:54:00:12:34:56\nsecond\n");
  std::filesystem::create_symlink("../../class/net/eth0", tree + "/sys/class/net/lo");
  std::filesystem::create_symlink("../../../..", tree + "/sys/class/net/up");  // leaves the tree
  const LinuxRoot live, fake(tree), slashed(tree + "/"), also_live("/");

  struct Case {
    const LinuxRoot& root;
    const char* path;
    std::string expected;
  } paths[] = {
      {live, "/proc/self/mountinfo", "/proc/self/mountinfo"},
      {live, "/", "/"},
      {also_live, "/sys", "/sys"},
      {fake, "/sys/class/net", tree + "/sys/class/net"},
      {fake, "/", tree},
      {slashed, "/sys", tree + "/sys"},
  };
  for (const Case& c : paths) EXPECT_EQ(c.root.Path(c.path), c.expected) << c.path;

  std::vector<std::string> names = fake.List("/sys/class/net");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"eth0", "lo", "up"}));
  EXPECT_EQ(fake.FirstLine("/sys/class/net/lo/address"), "52:54:00:12:34:56");
  EXPECT_EQ(fake.FirstLine("/sys/class/net/none/address"), "");
  EXPECT_EQ(fake.Canonical("/sys/class/net/lo"), "/sys/class/net/eth0");
  EXPECT_EQ(fake.Canonical("/sys/class/net/up/.."), std::nullopt);
  EXPECT_TRUE(fake.Exists("/sys/class/net/lo/address"));
  EXPECT_FALSE(fake.Exists("/proc"));
  EXPECT_EQ(live.BlockDevice("/dev/null"), std::nullopt);  // a character device
  EXPECT_EQ(fake.BlockDevice("/sys/class/net/eth0/address"), std::nullopt);
}

}  // namespace
}  // namespace hostprobe
