#include "session/session.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::ReadFile;
using testing::Record;
using testing::ScratchDir;

constexpr const char* kStamp = "6.12.2026 1:11:54";
const std::string kHashes(90, '#');

SnapshotData Probes(int16_t vpc, int16_t vm1, int16_t vm2, int16_t vm3, int16_t ldt, int16_t msw,
                    int16_t vmware) {
  SnapshotData d;
  d.timestamp = kStamp;
  d.probes.results = {vpc, vm1, vm2, vm3, ldt, msw, vmware};
  return d;
}

std::string Progress(int pass) {
  std::string text = "SOUBOR TESTŮ: " + std::to_string(pass) + "\r\n";
  for (int n = 1; n <= 8; ++n) {
    text += "Start testu č." + std::to_string(n) + "\r\nKonec testu č." + std::to_string(n) + "\r\n";
  }
  return text;
}

// The nine records of a run on an empty machine with the given probe words.
std::string RunLog(const char* t4, const char* t5, const char* t6, const char* t7, const std::string& t8) {
  return Record(kStamp, "1.\tStart Adapter Info ... \r\nBuffer=0 Exit from Adapter info.") +
         Record(kStamp, "2.\t") +
         Record(kStamp, "3.\t\r\nSYSTEM INFORMATION\r\n\r\nNumber of Drives - 0\r\n     0 - Unknown Drives\r\n"
                        "     0 - Removable Drives\r\n     0 - Fixed Drives\r\n     0 - NetWork Drives\r\n"
                        "     0 - CD-ROM Drives\r\n     0 - RAM-Disk Drives\r\nTotal Bytes - K\r\n"
                        "Used Bytes - K\r\nFree Bytes - K\r\n") +
         Record(kStamp, std::string("4.\t") + t4) + Record(kStamp, std::string("5.\t") + t5) +
         Record(kStamp, std::string("6.\t") + t6) + Record(kStamp, std::string("7.\t") + t7) +
         Record(kStamp, "8.\t" + t8) + Record(kStamp, kHashes);
}

TEST(SessionTest, BothStartButtonsRunTheSameEightTests) {
  for (int16_t index : {0, 1}) {
    SCOPED_TRACE(index);
    ScratchDir dir;
    Platform platform = MakeReplayPlatform(Probes(0, 1, 0, -1, 0, 0, 0));
    MemoryTextBox box;
    box.SetText("left over");
    Session session(platform, box);
    session.Command1_Click(index);
    EXPECT_EQ(box.Text(), Progress(index + 1));
    EXPECT_EQ(ReadFile("TEST_OUT.TXT"),
              RunLog("False", "True", "False", "True", "a) Native machine detected.\r\n"));
  }
}

TEST(SessionTest, TwoRunsReplaceTheTextAndAppendToTheLog) {
  ScratchDir dir;
  Platform platform = MakeReplayPlatform(Probes(1, 0, 0, 0, 0, 0, 5));
  MemoryTextBox box;
  Session session(platform, box);
  session.Command1_Click(0);
  session.Command1_Click(1);
  EXPECT_EQ(box.Text(), Progress(2));
  const std::string run = RunLog("True", "False", "False", "False", "b) VMWare version 5 detected.\r\n");
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), run + run);
}

TEST(SessionTest, MissingProbeEndsTheRunAtTestFourKeepingEarlierRecords) {
  for (bool whole_library : {true, false}) {
    SCOPED_TRACE(whole_library);
    ScratchDir dir;
    SnapshotData data = Probes(0, 0, 0, 0, 0, 0, 0);
    if (whole_library) {
      data.probes.loadable = false;
    } else {
      data.probes.results[static_cast<int>(Probe::kMswCheck)].reset();
    }
    Platform platform = MakeReplayPlatform(data);
    MemoryTextBox box;
    Session session(platform, box);
    try {
      session.Command1_Click(0);
      FAIL() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kProbeLibrary);
      EXPECT_NE(std::string(e.what()).find(whole_library ? "vmware.dll" : "mswCheck"), std::string::npos)
          << e.what();
    }
    const std::string full = RunLog("", "", "", "", "");
    EXPECT_EQ(ReadFile("TEST_OUT.TXT"), full.substr(0, full.find("\"" + std::string(kStamp) + "\t4.")));
    EXPECT_EQ(box.Text(),
              "SOUBOR TESTŮ: 1\r\nStart testu č.1\r\nKonec testu č.1\r\nStart testu č.2\r\n"
              "Konec testu č.2\r\nStart testu č.3\r\nKonec testu č.3\r\nStart testu č.4\r\n");
  }
}

TEST(SessionTest, TestButtonReplacesTheTextAndLogsNothing) {
  ScratchDir dir;
  Platform platform = MakeReplayPlatform(Probes(0, 0, 0, 0, 1, 0, 0));
  MemoryTextBox box;
  Session session(platform, box);
  session.Command1_Click(0);
  const std::string log = ReadFile("TEST_OUT.TXT");
  session.Test_Click();
  EXPECT_EQ(box.Text(), "Test Vmware : False\r\n");
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), log);
}

TEST(ToUpperUtf8Test, UpperCasesLatinLettersOnly) {
  EXPECT_EQ(ToUpperUtf8("SOUBOR TESTů: 1\r\n"), "SOUBOR TESTŮ: 1\r\n");
  EXPECT_EQ(ToUpperUtf8("příliš žluťoučký kůň úpěl ďábelské ódy 9€"),
            "PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY 9€");
}

}  // namespace
}  // namespace hostprobe
