#include "app/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <sstream>

#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Fixture;
using testing::ReadFile;
using testing::Record;
using testing::RunCliCapture;
using testing::ScratchDir;

constexpr const char* kStamp = "6.12.2026 1:11:54";

std::string Progress(int pass) {
  std::string text = "SOUBOR TESTŮ: " + std::to_string(pass) + "\n";
  for (int n = 1; n <= 8; ++n) {
    text += "Start testu č." + std::to_string(n) + "\nKonec testu č." + std::to_string(n) + "\n";
  }
  return text;
}

// Records 1 to 3 of a snapshot without adapters, interfaces or drives.
std::string EmptyMachineRecords() {
  return Record(kStamp, "1.\tStart Adapter Info ... \r\nBuffer=0 Exit from Adapter info.") +
         Record(kStamp, "2.\t") +
         Record(kStamp, "3.\t\r\nSYSTEM INFORMATION\r\n\r\nNumber of Drives - 0\r\n     0 - Unknown Drives\r\n"
                        "     0 - Removable Drives\r\n     0 - Fixed Drives\r\n     0 - NetWork Drives\r\n"
                        "     0 - CD-ROM Drives\r\n     0 - RAM-Disk Drives\r\nTotal Bytes - K\r\n"
                        "Used Bytes - K\r\nFree Bytes - K\r\n");
}

TEST(CliTest, PassesPrintProgressAndAppendNineRecords) {
  ScratchDir dir;
  const std::string run =
      EmptyMachineRecords() + Record(kStamp, "4.\tFalse") + Record(kStamp, "5.\tTrue") +
      Record(kStamp, "6.\tTrue") + Record(kStamp, "7.\tFalse") +
      Record(kStamp, "8.\tb) VMWare version 6 detected.\r\nd) Fully emulated virtual machine detected.\r\n") +
      Record(kStamp, std::string(90, '#'));
  for (int pass : {1, 2}) {
    const auto r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--pass", std::to_string(pass)});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, Progress(pass));
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), run + run);
}

TEST(CliTest, MissingProbeLibraryOrRoutineEndsTheRunAtTestFour) {
  const struct {
    const char* fixture;
    const char* message;
  } cases[] = {
      {"probes_no_library.json", "hostprobe: error: probe library error: cannot load the probe library vmware.dll\n"},
      {"probes_missing_routine.json",
       "hostprobe: error: probe library error: the probe library vmware.dll has no routine ldtCheck\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    ScratchDir dir;
    const auto r = RunCliCapture({"--replay", Fixture(c.fixture), "--pass", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "SOUBOR TESTŮ: 1\nStart testu č.1\nKonec testu č.1\nStart testu č.2\nKonec testu č.2\n"
                     "Start testu č.3\nKonec testu č.3\nStart testu č.4\n");
    EXPECT_EQ(ReadFile("TEST_OUT.TXT"), EmptyMachineRecords());
  }
}

TEST(CliTest, MissingProbeLibraryFailsTheTestButton) {
  ScratchDir dir;
  const auto r = RunCliCapture({"--replay", Fixture("probes_no_library.json"), "--test"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "hostprobe: error: probe library error: cannot load the probe library vmware.dll\n");
}

TEST(CliTest, LogThatCannotBeOpenedEndsTheRun) {
  ScratchDir dir;
  std::filesystem::create_directory("TEST_OUT.TXT");
  const auto r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--pass", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("hostprobe: error: file error: cannot open TEST_OUT.TXT: ", 0), 0u) << r.err;
  EXPECT_EQ(r.out, "SOUBOR TESTŮ: 1\nStart testu č.1\n");
}

TEST(CliTest, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--pass"},          {"--pass", "3"},        {"--pass", "1", "--test"}, {"--bogus"},
      {"--test", "--test"}, {"--replay"},           {"--capture"},             {"--test=1"},
      {"extra"},           {"--replay", "a", "--replay", "b"},
      // --help and --version do not hide a mistyped option; nothing follows --.
      {"--help", "--bogus"}, {"--bogus", "--version"}, {"--", "--test"}, {"--test", "--", "x"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    const auto r = RunCliCapture(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Try 'hostprobe --help'"), std::string::npos) << r.err;
  }
}

// Any exception that ends a run, not only the program's own errors, is an
// error message and exit 1, never an abort.
TEST(CliTest, AnyExceptionEndsTheRunWithAnErrorMessage) {
  const struct {
    std::function<void()> raise;
    const char* err;
  } cases[] = {
      {[] { throw std::runtime_error("the window's pipe broke"); }, "hostprobe: error: the window's pipe broke\n"},
      {[] { throw std::bad_alloc(); }, "hostprobe: error: out of memory\n"},
      {[] { throw std::out_of_range("vector::at"); }, "hostprobe: error: vector::at\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    CliHooks hooks;
    hooks.open_window = [&](const std::optional<std::string>&) -> std::optional<int> {
      c.raise();
      return 0;
    };
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunCli({}, in, out, err, hooks), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), c.err);
  }
}

// Output that cannot be written (a full disk, a closed pipe) fails the run.
TEST(CliTest, UnwritableOutputIsAnError) {
  ScratchDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--replay", Fixture("probes_vmware.json"), "--test"},
        std::vector<std::string>{"--replay", Fixture("probes_vmware.json"), "--capture", "-"},
        std::vector<std::string>{"--help"}}) {
    SCOPED_TRACE(args.back());
    std::istringstream in;
    std::ostream out(nullptr);  // no buffer: every write fails
    std::ostringstream err;
    EXPECT_EQ(RunCli(args, in, out, err), 1);
    EXPECT_EQ(err.str(), "hostprobe: error: cannot write to standard output\n");
  }
}

TEST(CliTest, CaptureReplacesTheFileOnlyWhenWrittenWhole) {
  ScratchDir dir;
  testing::WriteFile("snap.json", "earlier");
  // A file of the user's that a careless temporary name would take.
  testing::WriteFile("snap.json.tmp", "the user's own");
  auto r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--capture", "snap.json"});
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string captured = ReadFile("snap.json");
  EXPECT_EQ(captured.rfind("{\n  \"hostprobe_snapshot\": 1,", 0), 0u);
  EXPECT_EQ(ReadFile("snap.json.tmp"), "the user's own");
  // A capture that cannot be written names the reason and leaves the earlier
  // file as it was, with nothing beside it.
  std::filesystem::permissions("snap.json", std::filesystem::perms::owner_read);
  r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--capture", "snap.json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "hostprobe: error: cannot write the snapshot snap.json: " + testing::AccessDeniedText() + "\n");
  EXPECT_EQ(ReadFile("snap.json"), captured);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"snap.json", "snap.json.tmp"}));
}

TEST(CliTest, HelpAndVersion) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                               std::vector<std::string>{"-h"},
                                               std::vector<std::string>{"-?"},
                                               std::vector<std::string>{"/?"},
                                               std::vector<std::string>{"--test", "--help"},
                                               std::vector<std::string>{"--version", "--help", "--"}}) {
    auto help = RunCliCapture(args);
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out, UsageText());
  }
  // Every spelling of the help is listed in it.
  EXPECT_NE(UsageText().find("-h, -?, /?, --help"), std::string::npos) << UsageText();
  auto version = RunCliCapture({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.rfind("hostprobe ", 0), 0u);
}

TEST(CliTest, ConsoleReadsLinesUntilKonecOrEndOfInput) {
  ScratchDir dir;
  const std::string menu =
      "hostprobe: 1 or Enter = START TESTU 1/2, 2 = START TESTU 2/2, t = TEST, k, q or Esc = Konec\n";
  // An empty line is Enter (the first start button); "k" ends before "2".
  auto r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--console"}, "\nt\nx\nk\n2\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, menu + Progress(1) + "Test Vmware : False\n");
  const std::string one_run = ReadFile("TEST_OUT.TXT");
  // "--" ends the options: nothing else changes.
  r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--console", "--"}, "k\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, menu);
  // End of input ends like Konec.
  r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--console"}, "2");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, menu + Progress(2));
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), one_run + one_run);
}

}  // namespace
}  // namespace hostprobe
