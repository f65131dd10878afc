#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "network/adapter_walk.h"
#include "network/adapters_report.h"
#include "network/interfaces_report.h"
#include "network/mac_text.h"
#include "platform/error.h"
#include "platform/records.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "bytes_sources.h"
#include "test_util.h"

namespace hostprobe {
namespace {

namespace rec = records;
using testing::BytesAdapterApi;
using testing::Fixture;
using testing::ReadFile;
using testing::Record;
using testing::RunCliCapture;
using testing::ScratchDir;

std::string Nul(std::size_t n) { return std::string(n, '\0'); }

// Runs `f` and returns the kind of the Error it throws; fails when it throws none.
template <typename F>
ErrorKind KindOf(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no error";
  return ErrorKind::kPlatform;
}

// `json` is a snapshot object without its version key.
Platform FromJson(const std::string& json) {
  return MakeReplayPlatform(ParseSnapshot(R"({"hostprobe_snapshot": 1, )" + json.substr(1), "inline"));
}
Platform FromFixture(const std::string& name) { return MakeReplayPlatform(ReadSnapshotFile(Fixture(name))); }

TEST(MacToTextTest, SixUpperCasePairs) {
  const struct {
    std::array<uint8_t, 8> bytes;
    const char* text;
  } cases[] = {
      {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70}, "00-1A-2B-3C-4D-5E"},
      {{0, 0, 0, 0, 0, 0, 0, 0}, "00-00-00-00-00-00"},
      {{10, 255, 0xab, 1, 0xf0, 0x0f, 0xff, 0xff}, "0A-FF-AB-01-F0-0F"},
  };
  for (const auto& c : cases) EXPECT_EQ(MacToText(c.bytes), c.text);
}

TEST(CutAtNulTest, KeepsWhatComesBeforeTheFirstNul) {
  EXPECT_EQ(CutAtNul(std::string("abc") + Nul(3)), "abc");
  EXPECT_EQ(CutAtNul(std::string("ab\0cd\0", 6)), "ab");
  EXPECT_EQ(CutAtNul(std::string("\0abc", 4)), "");
  EXPECT_EQ(KindOf([] { CutAtNul("abc"); }), ErrorKind::kInvalidArgument);
  EXPECT_EQ(KindOf([] { CutAtNul(""); }), ErrorKind::kInvalidArgument);
}

TEST(AdapterCountTest, RoundsHalfToEvenAndOverflowsAbove32767) {
  const std::pair<uint32_t, int16_t> cases[] = {
      {1, 0},    {319, 0},  {320, 0},  {321, 1},  {640, 1},           {680, 1},   {960, 2},
      {1600, 2}, {2240, 4}, {1919, 3}, {1920, 3}, {20971199, 32767},
  };
  for (const auto& [length, count] : cases) EXPECT_EQ(AdapterCount(length), count) << length;
  for (uint32_t length : {20971200u, 20971520u, 4294967295u}) {
    EXPECT_EQ(KindOf([&] { AdapterCount(length); }), ErrorKind::kOverflow) << length;
  }
}

// The worked example's adapter line after "[i] ".
std::string ExampleLine() {
  return "Example Ethernet Adapter\t|\\1|6\t|\\2|02-00-5E-10-00-01\t|\\3|{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}" +
         Nul(222) + "\t|\\4|6\t|\\5|0\t|\\6|1\t|\\7|0\t|\\8|192.168.0.1" + Nul(5) + "\t|\\9|192.168.0.1" + Nul(5) +
         "\t|\\10|0\t|\\11|192.168.0.20" + Nul(4) + "\t|\\12|" + Nul(16) + "\t|\\13|" + Nul(16);
}

TEST(AdaptersReportTest, WorkedExample) {
  Platform p = FromFixture("adapters_example.json");
  EXPECT_EQ(GetAdaptersReport(*p.adapters), "1 Adapter(s):\r\n[0] " + ExampleLine());
}

TEST(AdaptersReportTest, ThreeAdaptersInChainOrderWithEveryFieldWhole) {
  Platform p = FromFixture("adapters_three.json");
  const std::string expected =
      "3 Adapter(s):"
      "\r\n[0] ABCDEFGHIJKLMNOP\t|\\1|8\t|\\2|00-1A-2B-3C-4D-5E\t|\\3|eth0" + Nul(1) + "left over" + Nul(246) +
      "\t|\\4|71\t|\\5|-1\t|\\6|0\t|\\7|1050000\t|\\8|" + Nul(16) + "\t|\\9|" + Nul(16) + "\t|\\10|1\t|\\11|10.0.0.1" +
      Nul(8) + "\t|\\12|10.0.0.9" + Nul(8) + "\t|\\13|255.255.255.255" + Nul(1) +
      "\r\n[1] \t|\\1|0\t|\\2|00-00-00-00-00-00\t|\\3|" + Nul(260) + "\t|\\4|24\t|\\5|0\t|\\6|0\t|\\7|0\t|\\8|" +
      Nul(16) + "\t|\\9|" + Nul(16) + "\t|\\10|0\t|\\11|" + Nul(16) + "\t|\\12|" + Nul(16) + "\t|\\13|" + Nul(16) +
      "\r\n[2] Caf\xE9 \xFF\t|\\1|6\t|\\2|0A-FF-0A-FF-10-01\t|\\3|x" + Nul(259) +
      "\t|\\4|-1\t|\\5|0\t|\\6|1\t|\\7|0\t|\\8|10.0.0.254" + Nul(6) + "\t|\\9|0.0.0.0" + Nul(9) +
      "\t|\\10|0\t|\\11|123.123.123.123\xFF\t|\\12|" + Nul(16) + "\t|\\13|" + Nul(16);
  EXPECT_EQ(GetAdaptersReport(*p.adapters), expected);
}

// The header states C, the needed length over 640 rounded half to even, and
// the walk visits at most C records and stops at the first Next of 0.
TEST(AdaptersReportTest, CountAndChainBoundEachOther) {
  const std::string one = R"({"description": "A"})";
  const std::string zero_line = "\t|\\1|0\t|\\2|00-00-00-00-00-00\t|\\3|" + Nul(260) +
                                "\t|\\4|0\t|\\5|0\t|\\6|0\t|\\7|0\t|\\8|" + Nul(16) + "\t|\\9|" + Nul(16) +
                                "\t|\\10|0\t|\\11|" + Nul(16) + "\t|\\12|" + Nul(16) + "\t|\\13|" + Nul(16);
  const struct {
    std::string json;
    std::string text;
  } cases[] = {
      {R"({"adapters": {"needed_length": 0, "records": [{}]}})",
       "Start Adapter Info ... \r\nBuffer=0 Exit from Adapter info."},
      {R"({"adapters": {"fill_status": 111, "records": [{}]}})",
       "Start Adapter Info ... \r\nSTS= 111 Exit from Adapter info."},
      {R"({"adapters": {"fill_status": 4294967295, "records": [{}]}})",
       "Start Adapter Info ... \r\nSTS= -1 Exit from Adapter info."},
      // A count above the chain: the header says 2, one line.
      {R"({"adapters": {"needed_length": 960, "records": [)" + one + "]}}",
       "2 Adapter(s):\r\n[0] A" + zero_line},
      // A count below the chain: only the first record is visited.
      {R"({"adapters": {"needed_length": 700, "records": [)" + one + "," + one + "]}}",
       "1 Adapter(s):\r\n[0] A" + zero_line},
      // A count of 0 visits nothing.
      {R"({"adapters": {"needed_length": 320, "records": [{}]}})", "0 Adapter(s):"},
      // The largest count: a buffer of zeros holds one record whose Next is 0.
      {R"({"adapters": {"needed_length": 20971199}})", "32767 Adapter(s):\r\n[0] " + zero_line},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    Platform p = FromJson(c.json);
    EXPECT_EQ(GetAdaptersReport(*p.adapters), c.text);
  }
}

TEST(AdaptersReportTest, ErrorsEndTheReport) {
  const std::string full_description = R"({"description": ")" + std::string(132, 'D') + R"("})";
  const std::pair<std::string, ErrorKind> cases[] = {
      {R"({"adapters": {"needed_length": 20971200}})", ErrorKind::kOverflow},
      // C is 2 but the buffer ends inside the second record.
      {R"({"adapters": {"needed_length": 960, "records": [{}, {}]}})", ErrorKind::kIndexOutOfRange},
      {R"({"adapters": {"records": [)" + full_description + "]}}", ErrorKind::kInvalidArgument},
  };
  for (const auto& [json, kind] : cases) {
    SCOPED_TRACE(json);
    Platform p = FromJson(json);
    EXPECT_EQ(KindOf([&] { GetAdaptersReport(*p.adapters); }), kind);
  }
}

std::vector<uint8_t> Chain(std::size_t records, std::initializer_list<uint32_t> nexts) {
  std::vector<uint8_t> bytes(records * rec::kAdapterSize);
  std::size_t i = 0;
  for (uint32_t next : nexts) {
    rec::PutU32(bytes.data() + i * rec::kAdapterSize + rec::kAdNext, next);
    bytes[i * rec::kAdapterSize + rec::kAdDescription] = static_cast<uint8_t>('a' + i);
    ++i;
  }
  return bytes;
}

TEST(AdapterWalkTest, LoopingChainEndsAfterCountRecords) {
  // Record 0 leads to record 1, which leads back to record 0.
  BytesAdapterApi api(Chain(3, {0x5000 + 640, 0x5000}), 0x5000);
  std::string visited;
  const WalkResult r = WalkAdapters(api, [&](int16_t i, const AdapterRecord& record) {
    visited += std::to_string(i) + record.description.substr(0, 1);
    return true;
  });
  EXPECT_EQ(r.outcome, WalkOutcome::kWalked);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(visited, "0a1b2a");
}

TEST(AdapterWalkTest, NextOutsideTheBufferIsAnIndexError) {
  for (uint32_t next : {0x5000u - 640, 0x4FFFu, 0x5000u + 641, 0x5000u + 1280, 0xFFFFFFFFu}) {
    SCOPED_TRACE(next);
    BytesAdapterApi api(Chain(2, {next}), 0x5000);
    int visits = 0;
    EXPECT_EQ(KindOf([&] { WalkAdapters(api, [&](int16_t, const AdapterRecord&) { return ++visits, true; }); }),
              ErrorKind::kIndexOutOfRange);
    EXPECT_EQ(visits, 1);
  }
}

TEST(InterfacesReportTest, WorkedExample) {
  Platform p = FromFixture("adapters_example.json");
  EXPECT_EQ(GetInterfacesReport(*p.interfaces),
            "2 Interface(s):\r\n[1] Loopback Interface\t24\t1\t10000000\t00-00-00-00-00-00"
            "\r\n[2] Example Ethernet Adapter\t6\t1\t100000000\t02-00-5E-10-00-01");
}

TEST(InterfacesReportTest, Rows) {
  const struct {
    std::string json;
    std::string text;
  } cases[] = {
      {R"({"interfaces": {"needed_length": 0, "rows": [{}]}})", ""},
      {R"({"interfaces": {"fill_status": 122, "rows": [{}]}})", ""},
      {R"({"interfaces": {"rows": []}})", "0 Interface(s):"},
      // A count that reads as negative: the header, no rows.
      {R"({"interfaces": {"num_entries": 4294967295, "rows": []}})", "-1 Interface(s):"},
      {R"({"interfaces": {"num_entries": -32768}})", "-32768 Interface(s):"},
      {R"({"interfaces": {"rows": [{"descr": "x", "descr_len": 1, "type": 6}]}})",
       "1 Interface(s):\r\n[1] \t6\t0\t0\t00-00-00-00-00-00"},
      // The description is cut by dwDescrLen, not at a NUL; all 256 bytes at most.
      {R"({"interfaces": {"rows": [{"descr": "abc\u0000def", "descr_len": 7}]}})",
       "1 Interface(s):\r\n[1] abc" + Nul(1) + "de\t0\t0\t0\t00-00-00-00-00-00"},
      {R"({"interfaces": {"rows": [{"descr": "Twenty character txt", "descr_len": 300}]}})",
       "1 Interface(s):\r\n[1] Twenty character txt" + Nul(236) + "\t0\t0\t0\t00-00-00-00-00-00"},
      {R"({"interfaces": {"rows": [{"descr": "\u00e9", "descr_len": 2147483647}]}})",
       "1 Interface(s):\r\n[1] \xE9" + Nul(255) + "\t0\t0\t0\t00-00-00-00-00-00"},
      {R"({"interfaces": {"rows": [{"descr": "W", "type": 71, "admin_status": 2, "speed": 2500000000,
                                    "phys_addr_len": 0, "phys_addr": "0A-FF-00-00-00-00-12-34"}]}})",
       "1 Interface(s):\r\n[1] W\t71\t2\t-1794967296\t0A-FF-00-00-00-00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    Platform p = FromJson(c.json);
    EXPECT_EQ(GetInterfacesReport(*p.interfaces), c.text);
  }
}

TEST(InterfacesReportTest, ThreeHundredRowsNumberedFromOne) {
  std::string json = R"({"interfaces": {"rows": [)";
  std::string expected = "300 Interface(s):";
  for (int i = 1; i <= 300; ++i) {
    json += std::string(i > 1 ? "," : "") + R"({"descr": "if)" + std::to_string(i) + R"(", "speed": )" +
            std::to_string(i) + "}";
    expected += "\r\n[" + std::to_string(i) + "] if" + std::to_string(i) + "\t0\t0\t" + std::to_string(i) +
                "\t00-00-00-00-00-00";
  }
  Platform p = FromJson(json + "]}}");
  EXPECT_EQ(GetInterfacesReport(*p.interfaces), expected);
}

TEST(InterfacesReportTest, ErrorsEndTheReport) {
  const std::pair<std::string, ErrorKind> cases[] = {
      {R"({"interfaces": {"rows": [{"descr": "x", "descr_len": 0}]}})", ErrorKind::kInvalidArgument},
      {R"({"interfaces": {"rows": [{"descr": "x", "descr_len": 4294967295}]}})", ErrorKind::kInvalidArgument},
      // The loop runs on a 16-bit count: beyond -32768 to 32767 is an overflow.
      {R"({"interfaces": {"num_entries": 32768}})", ErrorKind::kOverflow},
      {R"({"interfaces": {"num_entries": -32769}})", ErrorKind::kOverflow},
      {R"({"interfaces": {"num_entries": 2147483648}})", ErrorKind::kOverflow},
      // More rows promised than the buffer holds: the next row starts at its end,
      {R"({"interfaces": {"num_entries": 2, "rows": [{"descr_len": 1}]}})", ErrorKind::kIndexOutOfRange},
      // or starts inside it and runs past it,
      {R"({"interfaces": {"needed_length": 1000, "rows": [{"descr_len": 1}, {"descr_len": 1}]}})",
       ErrorKind::kIndexOutOfRange},
      // or the buffer is shorter than the count itself.
      {R"({"interfaces": {"needed_length": 3}})", ErrorKind::kIndexOutOfRange},
  };
  for (const auto& [json, kind] : cases) {
    SCOPED_TRACE(json);
    Platform p = FromJson(json);
    EXPECT_EQ(KindOf([&] { GetInterfacesReport(*p.interfaces); }), kind);
  }
}

// A whole pass over the worked examples: tests 1 and 2 carry the reports.
TEST(NetworkReportsCliTest, PassLogsBothReports) {
  ScratchDir dir;
  const auto r = RunCliCapture({"--replay", Fixture("adapters_example.json"), "--pass", "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string stamp = "6.12.2026 1:11:54";
  const std::string log =
      Record(stamp, "1.\t1 Adapter(s):\r\n[0] " + ExampleLine()) +
      Record(stamp, "2.\t2 Interface(s):\r\n[1] Loopback Interface\t24\t1\t10000000\t00-00-00-00-00-00"
                    "\r\n[2] Example Ethernet Adapter\t6\t1\t100000000\t02-00-5E-10-00-01") +
      Record(stamp, "3.\t\r\nSYSTEM INFORMATION\r\n\r\nNumber of Drives - 0\r\n     0 - Unknown Drives\r\n"
                    "     0 - Removable Drives\r\n     0 - Fixed Drives\r\n     0 - NetWork Drives\r\n"
                    "     0 - CD-ROM Drives\r\n     0 - RAM-Disk Drives\r\nTotal Bytes - K\r\n"
                    "Used Bytes - K\r\nFree Bytes - K\r\n") +
      Record(stamp, "4.\tFalse") + Record(stamp, "5.\tFalse") + Record(stamp, "6.\tFalse") +
      Record(stamp, "7.\tFalse") + Record(stamp, "8.\ta) Native machine detected.\r\n") +
      Record(stamp, std::string(90, '#'));
  EXPECT_EQ(ReadFile("TEST_OUT.TXT"), log);
}

}  // namespace
}  // namespace hostprobe
