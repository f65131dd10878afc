// The command line's --report, --json and --redact.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/cli.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Fixture;
using testing::RunCliCapture;
using testing::ScratchDir;

TEST(CliReportTest, BadCombinationsAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--json"}, "hostprobe: --json goes with --report\n"},
      {{"--pass", "1", "--json"}, "hostprobe: --json goes with --report\n"},
      {{"--redact"}, "hostprobe: --redact goes with --report or --capture\n"},
      {{"--test", "--redact"}, "hostprobe: --redact goes with --report or --capture\n"},
      {{"--report", "--pass", "1"}, "hostprobe: --pass cannot be combined with another action\n"},
      {{"--report", "--report"}, "hostprobe: --report given twice\n"},
      {{"--report", "--json", "--json"}, "hostprobe: --json given twice\n"},
      {{"--report=yes"}, "hostprobe: --report takes no value\n"},
      {{"--capture", "-", "--report"}, "hostprobe: --report cannot be combined with another action\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const auto r = RunCliCapture(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message + "Try 'hostprobe --help' for more information.\n");
  }
}

// The report goes to standard output only, as one JSON document; nothing is
// logged; a redacted capture is a snapshot that replays.
TEST(CliReportTest, ReportAndRedactedCapture) {
  ScratchDir dir;
  const std::string fixture = Fixture("drives_example.json");
  const auto json = RunCliCapture({"--replay", fixture, "--report", "--json"});
  EXPECT_EQ(json.code, 0);
  EXPECT_EQ(json.err, "");
  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["hostprobe_report"], 1);
  EXPECT_EQ(doc["drives"]["list"][1]["serial_number"], 1622468873);
  EXPECT_EQ(doc["drives"]["list"][1]["volume_name"], "DATA");

  const auto redacted = RunCliCapture({"--report", "--json", "--redact", "--replay", fixture});
  EXPECT_EQ(redacted.code, 0);
  const auto r = nlohmann::json::parse(redacted.out);
  EXPECT_EQ(r["redacted"], true);
  EXPECT_EQ(r["drives"]["list"][1]["serial_number"], 1);
  EXPECT_EQ(r["drives"]["list"][1]["volume_name"], "volume-1");
  EXPECT_EQ(r["drives"]["totals"], doc["drives"]["totals"]);

  const auto text = RunCliCapture({"--replay", fixture, "--report"});
  EXPECT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("      Volume name:    DATA\n"), std::string::npos) << text.out;

  const auto capture = RunCliCapture({"--replay", fixture, "--capture", "-", "--redact"});
  EXPECT_EQ(capture.code, 0);
  EXPECT_EQ(capture.out.find("DATA"), std::string::npos);
  testing::WriteFile("redacted.json", capture.out);
  const auto replay = RunCliCapture({"--replay", "redacted.json", "--report", "--json"});
  EXPECT_EQ(replay.code, 0) << replay.err;
  EXPECT_EQ(nlohmann::json::parse(replay.out)["drives"]["list"][1]["volume_name"], "volume-1");
  EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
}

}  // namespace
}  // namespace hostprobe
