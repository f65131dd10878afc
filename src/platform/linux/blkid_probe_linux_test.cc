#include "platform/linux/blkid_probe_linux.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "test_util.h"

namespace hostprobe::linux_drives {
namespace {

namespace fs = std::filesystem;

// A 1.44 MB floppy's FAT12 boot sector and FATs, and the label as the root
// folder's volume entry (where Windows and libblkid read it), the rest zeros.
std::string Fat12Image(const std::string& label11, uint32_t serial) {
  std::string image(2880 * 512, '\0');
  auto put16 = [&](std::size_t at, unsigned v) {
    image[at] = static_cast<char>(v & 0xFF);
    image[at + 1] = static_cast<char>(v >> 8);
  };
  image.replace(0, 3, "\xEB\x3C\x90");
  image.replace(3, 8, "MSWIN4.1");
  put16(11, 512);     // bytes per sector
  image[13] = 1;      // sectors per cluster
  put16(14, 1);       // reserved sectors
  image[16] = 2;      // FATs
  put16(17, 224);     // root folder entries
  put16(19, 2880);    // sectors
  image[21] = '\xF0';  // media
  put16(22, 9);       // sectors per FAT
  put16(24, 18);      // sectors per track
  put16(26, 2);       // heads
  image[38] = 0x29;   // extended boot signature
  for (int i = 0; i < 4; ++i) image[39 + i] = static_cast<char>(serial >> (8 * i));
  image.replace(43, 11, label11);
  image.replace(54, 8, "FAT12   ");
  image[510] = 0x55;
  image[511] = '\xAA';
  for (std::size_t fat : {512u, 512u + 9 * 512u}) image.replace(fat, 3, "\xF0\xFF\xFF");
  const std::size_t root_folder = 19 * 512;
  image.replace(root_folder, 11, label11);
  image[root_folder + 11] = 0x08;  // volume label
  return image;
}

auto Fields(const ProbedNames& n) { return std::tie(n.type, n.label, n.uuid); }

TEST(BlkidProbeTest, ReadsTheNamesFromTheFileSystemItself) {
  testing::ScratchDir dir;
  const fs::path fat = dir.path() / "fat.img";
  testing::WriteFile(fat, Fat12Image("CANNED     ", 0x1234ABCD));
  const fs::path zeros = dir.path() / "zeros.img";
  testing::WriteFile(zeros, std::string(1 << 20, '\0'));

  struct Case {
    fs::path image;
    std::optional<ProbedNames> expected;
  };
  std::vector<Case> cases = {
      {fat, ProbedNames{"vfat", "CANNED", "1234-ABCD"}},
      {zeros, std::nullopt},
      {dir.path() / "missing.img", std::nullopt},
      {dir.path(), std::nullopt},
  };
  // ext4 as mkfs makes it, where e2fsprogs is installed.
  const fs::path ext4 = dir.path() / "ext4.img";
  const std::string mkfs = "mkfs.ext4 -q -F -L 'probe label' -U 6f0e8f56-3a59-4c36-9d3e-0a6b1c2d3e4f '" +
                           ext4.string() + "' 4M >/dev/null 2>&1";
  if (std::system(("PATH=$PATH:/sbin:/usr/sbin " + mkfs).c_str()) == 0) {
    cases.push_back({ext4, ProbedNames{"ext4", "probe label", "6f0e8f56-3a59-4c36-9d3e-0a6b1c2d3e4f"}});
  } else {
    std::cout << "mkfs.ext4 is not installed: the ext4 case is left out\n";
  }
  for (const Case& c : cases) {
    const auto got = ProbeFileSystem(c.image.string());
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.image;
    if (got) {
      EXPECT_EQ(Fields(*got), Fields(*c.expected)) << c.image;
    }
  }
}

}  // namespace
}  // namespace hostprobe::linux_drives
