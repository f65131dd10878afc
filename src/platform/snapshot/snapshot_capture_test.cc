// A capture made while replaying keeps everything the replay serves: it
// replays to the same log, output and exit code as the snapshot it was made
// from, for every fixture, every failing drive read, a probe library without
// a routine or without a load, and texts that are not UTF-8.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "test_util.h"

namespace hostprobe {
namespace {

using nlohmann::ordered_json;
using testing::Fixture;
using testing::ReadFile;
using testing::RunCliCapture;
using testing::ScratchDir;
using testing::WriteFile;

struct Variant {
  std::string name;
  ordered_json snapshot;
};

ordered_json Load(const std::filesystem::path& path) { return ordered_json::parse(ReadFile(path)); }

std::vector<Variant> Variants() {
  std::vector<Variant> variants;
  // Every fixture, with a fixed timestamp where it has none (the live clock
  // gives no two runs the same records).
  for (const auto& entry : std::filesystem::directory_iterator(HOSTPROBE_FIXTURES)) {
    ordered_json j = Load(entry.path());
    if (!j.contains("timestamp")) j["timestamp"] = "1.1.2027 0:00:01";
    variants.push_back({entry.path().filename().string(), std::move(j)});
  }
  // Every failing read, on the ready drive C of drives_example.json.
  for (const char* property : {"IsReady", "DriveLetter", "VolumeName", "DriveType", "FileSystem", "SerialNumber",
                               "ShareName", "RootFolder", "Path", "TotalSize", "FreeSpace", "Drives", "Count"}) {
    ordered_json j = Load(Fixture("drives_example.json"));
    j["drives"][1]["fail"] = property;
    variants.push_back({std::string("fail ") + property, std::move(j)});
  }
  // Texts that are not UTF-8: a locale's no-break space as the separator
  // (ISO-8859-2), a mount point holding 0xFF, a Latin-2 volume name.
  ordered_json j = Load(Fixture("drives_example.json"));
  j["thousands_separator"] = {{"bytes", "\u00a0"}};
  j["timestamp"] = {{"bytes", "6. prosince 2026 1:11:54 \u00e8"}};
  j["drives"][1]["root_path"] = {{"bytes", "/mnt/\u00ff"}};
  j["drives"][1]["letter"] = {{"bytes", "/mnt/\u00ff"}};
  j["drives"][1]["volume_name"] = {{"bytes", "Sv\u00ecty"}};
  variants.push_back({"bytes", std::move(j)});
  return variants;
}

TEST(SnapshotCaptureTest, CaptureOfAReplayReplaysToTheSameLogAndExitCode) {
  for (const Variant& v : Variants()) {
    SCOPED_TRACE(v.name);
    ScratchDir dir;
    WriteFile("original.json", v.snapshot.dump(2));
    const auto capture = RunCliCapture({"--replay", "original.json", "--capture", "capture.json"});
    EXPECT_EQ(capture.code, 0) << capture.err;
    if (capture.code != 0) continue;
    for (const std::vector<std::string>& run : {std::vector<std::string>{"--pass", "1"}, {"--test"}}) {
      SCOPED_TRACE(run[0]);
      std::filesystem::create_directory("a");
      std::filesystem::create_directory("b");
      std::vector<std::string> first_args = {"--replay", "../original.json"};
      std::vector<std::string> second_args = {"--replay", "../capture.json"};
      first_args.insert(first_args.end(), run.begin(), run.end());
      second_args.insert(second_args.end(), run.begin(), run.end());
      std::filesystem::current_path("a");
      const auto first = RunCliCapture(first_args);
      std::filesystem::current_path("../b");
      const auto second = RunCliCapture(second_args);
      std::filesystem::current_path("..");
      EXPECT_EQ(second.code, first.code);
      EXPECT_EQ(second.out, first.out);
      EXPECT_EQ(second.err, first.err);
      const bool logged = std::filesystem::exists("a/TEST_OUT.TXT");
      EXPECT_EQ(std::filesystem::exists("b/TEST_OUT.TXT"), logged);
      if (logged) {
        EXPECT_EQ(ReadFile("b/TEST_OUT.TXT"), ReadFile("a/TEST_OUT.TXT"));
      }
      std::filesystem::remove_all("a");
      std::filesystem::remove_all("b");
    }
  }
}

// The bytes reach the log as they are, and the capture writes them back in
// the same form.
TEST(SnapshotCaptureTest, TextsThatAreNotUtf8KeepEveryByte) {
  ScratchDir dir;
  ordered_json j = Load(Fixture("drives_example.json"));
  j["thousands_separator"] = {{"bytes", "\u00a0"}};
  j["drives"][1]["root_path"] = {{"bytes", "/mnt/\u00ff"}};
  WriteFile("original.json", j.dump(2));
  const auto capture = RunCliCapture({"--replay", "original.json", "--capture", "-"});
  ASSERT_EQ(capture.code, 0) << capture.err;
  const ordered_json captured = ordered_json::parse(capture.out);
  EXPECT_EQ(captured["thousands_separator"], ordered_json({{"bytes", "\u00a0"}}));
  EXPECT_EQ(captured["drives"][1]["root_path"], ordered_json({{"bytes", "/mnt/\u00ff"}}));
  EXPECT_EQ(captured["drives"][1]["letter"], "C");  // UTF-8 stays a plain string
  ASSERT_EQ(RunCliCapture({"--replay", "original.json", "--pass", "1"}).code, 0);
  const std::string log = ReadFile("TEST_OUT.TXT");
  EXPECT_NE(log.find("     Root Folder - /mnt/\xFF\r\n     Total Bytes Available - 40\xA0" "007\xA0" "729\xA0" "152\r\n"),
            std::string::npos);
  EXPECT_EQ(log.find("\xEF\xBF\xBD"), std::string::npos);
}

}  // namespace
}  // namespace hostprobe
