#include "drives/drives_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/error.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "test_util.h"

namespace hostprobe {
namespace {

struct DriveData {
  bool ready = false;
  std::string letter;
  std::string volume;
  int32_t type = 0;
  std::string file_system;
  int32_t serial = 0;
  std::string share;
  std::string root;
  int64_t total = 0;
  int64_t free = 0;
};

// A drive source over fixed data that notes every read as "<letter>.<property>"
// and makes the reads of one property (any drive's) fail.
class FakeSource : public DriveSource {
 public:
  explicit FakeSource(std::vector<DriveData> drives, std::string fail = "")
      : drives_(std::move(drives)), fail_(std::move(fail)) {}

  std::unique_ptr<DriveList> Open() override {
    Note("", "Open");
    return std::make_unique<List>(*this);
  }

  std::vector<std::string> reads;

 private:
  class FakeDrive : public Drive {
   public:
    FakeDrive(FakeSource& s, const DriveData& d) : s_(s), d_(d) {}
    bool IsReady() override { return s_.Note(d_.letter, "IsReady"), d_.ready; }
    std::string DriveLetter() override { return s_.Note(d_.letter, "DriveLetter"), d_.letter; }
    std::string VolumeName() override { return s_.Note(d_.letter, "VolumeName"), d_.volume; }
    int32_t DriveType() override { return s_.Note(d_.letter, "DriveType"), d_.type; }
    std::string FileSystem() override { return s_.Note(d_.letter, "FileSystem"), d_.file_system; }
    int32_t SerialNumber() override { return s_.Note(d_.letter, "SerialNumber"), d_.serial; }
    std::string ShareName() override { return s_.Note(d_.letter, "ShareName"), d_.share; }
    std::string RootPath() override { return s_.Note(d_.letter, "Path"), d_.root; }
    int64_t TotalSize() override { return s_.Note(d_.letter, "TotalSize"), d_.total; }
    int64_t FreeSpace() override { return s_.Note(d_.letter, "FreeSpace"), d_.free; }

   private:
    FakeSource& s_;
    const DriveData& d_;
  };

  class List : public DriveList {
   public:
    explicit List(FakeSource& s) : s_(s) {
      for (const auto& d : s.drives_) drives_.push_back(std::make_unique<FakeDrive>(s, d));
    }
    std::vector<Drive*> Drives() override {
      s_.Note("", "Drives");
      std::vector<Drive*> out;
      for (auto& d : drives_) out.push_back(d.get());
      return out;
    }
    int32_t Count() override {
      s_.Note("", "Count");
      return static_cast<int32_t>(drives_.size());
    }

   private:
    FakeSource& s_;
    std::vector<std::unique_ptr<FakeDrive>> drives_;
  };

  void Note(const std::string& letter, const std::string& property) {
    reads.push_back(letter.empty() ? property : letter + "." + property);
    if (property == fail_) throw Error(ErrorKind::kPlatform, "reading " + property + " failed");
  }

  std::vector<DriveData> drives_;
  std::string fail_;
};

DriveData NotReady(const std::string& letter) {
  DriveData d;
  d.letter = letter;
  return d;
}
const DriveData kNotReadyA = NotReady("A");
const DriveData kDataC{true, "C", "DATA", 2, "NTFS", 1622468873, "", "C:\\", 40007729152, 12345678848};

// The summary block after the drive lines; totals as printed before "K".
std::string Summary(int count, const std::vector<int>& counters, const std::string& total,
                    const std::string& used, const std::string& free) {
  static const char* labels[] = {" - Unknown Drives", " - Removable Drives", " - Fixed Drives",
                                 " - NetWork Drives", " - CD-ROM Drives",    " - RAM-Disk Drives"};
  std::string s = "\r\nSYSTEM INFORMATION\r\n\r\nNumber of Drives - " + std::to_string(count);
  for (int i = 0; i < 6; ++i) s += "\r\n     " + std::to_string(counters[i]) + labels[i];
  return s + "\r\nTotal Bytes - " + total + "K\r\nUsed Bytes - " + used + "K\r\nFree Bytes - " + free + "K\r\n";
}

// The block of a ready drive after its header line.
std::string Block(const std::string& fs, const std::string& serial, const std::string& share,
                  const std::string& root, const std::string& total, const std::string& used,
                  const std::string& free) {
  return "     File System Type - " + fs + "\r\n     SerialNumber - " + serial + "\r\n     ShareName - " +
         share + "\r\n     Root Folder - " + root + "\r\n     Total Bytes Available - " + total +
         "\r\n     Bytes Used - " + used + "\r\n     Free Space Available - " + free + "\r\n";
}

constexpr const char* kExampleReport =
    " (A:)     Drive Not Ready\r\n"
    "DATA (C:) Information     Drive Type is Fixed\r\n"
    "     File System Type - NTFS\r\n"
    "     SerialNumber - 1622468873\r\n"
    "     ShareName - \r\n"
    "     Root Folder - C:\\\r\n"
    "     Total Bytes Available - 40,007,729,152\r\n"
    "     Bytes Used - 27,662,050,304\r\n"
    "     Free Space Available - 12,345,678,848\r\n"
    "\r\n"
    "SYSTEM INFORMATION\r\n"
    "\r\n"
    "Number of Drives - 2\r\n"
    "     0 - Unknown Drives\r\n"
    "     0 - Removable Drives\r\n"
    "     1 - Fixed Drives\r\n"
    "     0 - NetWork Drives\r\n"
    "     0 - CD-ROM Drives\r\n"
    "     0 - RAM-Disk Drives\r\n"
    "Total Bytes - 40,007,729K\r\n"
    "Used Bytes - 27,662,050K\r\n"
    "Free Bytes - 12,345,679K\r\n";

TEST(DrivesReportTest, ReadsEveryPropertyAfreshInReportOrder) {
  FakeSource source({kNotReadyA, kDataC});
  EXPECT_EQ(GetDrivesReport(source, ","), kExampleReport);
  const std::vector<std::string> expected = {
      "Open",        "Drives",       "A.IsReady",     "A.DriveLetter", "C.IsReady",   "C.VolumeName",
      "C.VolumeName", "C.DriveLetter", "C.DriveType",  "C.FileSystem",  "C.SerialNumber", "C.ShareName",
      "C.Path",      "C.TotalSize",  "C.TotalSize",   "C.FreeSpace",   "C.FreeSpace", "C.FreeSpace",
      "C.TotalSize", "C.TotalSize",  "C.FreeSpace",   "Count"};
  EXPECT_EQ(source.reads, expected);
}

struct ReportCase {
  const char* name;
  std::vector<DriveData> drives;
  std::string separator;
  std::string report;
};

TEST(DrivesReportTest, LaysOutDrivesAndSummary) {
  const std::string zero = Summary(0, {0, 0, 0, 0, 0, 0}, "", "", "");
  const ReportCase cases[] = {
      {"empty list", {}, ",", zero},
      {"all not ready",
       {kNotReadyA, {false, "B", "X", 2, "FAT", 7, "", "B:\\", 1000, 1000}},
       ",",
       " (A:)     Drive Not Ready\r\n (B:)     Drive Not Ready\r\n" + Summary(2, {0, 0, 0, 0, 0, 0}, "", "", "")},
      {"empty volume name, full medium, negative serial, network share",
       {{true, "N", "", 3, "NTFS", -2023406815, "\\\\server\\share", "N:\\", 5000000, 0}},
       ",",
       "No Volume Name On (N:) Information     Drive Type is Network\r\n" +
           Block("NTFS", "-2023406815", "\\\\server\\share", "N:\\", "5,000,000", "5,000,000", "") +
           Summary(1, {0, 0, 0, 1, 0, 0}, "5,000", "5,000", "")},
      {"totals round halves away from zero",
       {{true, "D", "D1", 1, "FAT", 1, "", "D:\\", 1500, 499}},
       ",",
       "D1 (D:) Information     Drive Type is Removable\r\n" +
           Block("FAT", "1", "", "D:\\", "1,500", "1,001", "499") + Summary(1, {0, 1, 0, 0, 0, 0}, "2", "1", "")},
      {"sizes beyond twelve digits, another separator, every type counted",
       {{true, "E", "Big", 0, "ReFS", 0, "", "E:\\", 987654321098765, 123456789012345},
        {true, "F", "Cd", 4, "CDFS", 0, "", "F:\\", 1000, 0},
        {true, "G", "Ram", 5, "FAT", 0, "", "G:\\", 1000, 500},
        {true, "H", "Net", 3, "NTFS", 0, "\\\\s\\h", "H:\\", 0, 0}},
       "\xC2\xA0",
       "Big (E:) Information     Drive Type is Unknown\r\n" +
           Block("ReFS", "0", "", "E:\\", "987\xC2\xA0" "654\xC2\xA0" "321\xC2\xA0" "098\xC2\xA0" "765",
                 "864\xC2\xA0" "197\xC2\xA0" "532\xC2\xA0" "086\xC2\xA0" "420",
                 "123\xC2\xA0" "456\xC2\xA0" "789\xC2\xA0" "012\xC2\xA0" "345") +
           "Cd (F:) Information     Drive Type is CD-ROM\r\n" +
           Block("CDFS", "0", "", "F:\\", "1\xC2\xA0" "000", "1\xC2\xA0" "000", "") +
           "Ram (G:) Information     Drive Type is RAM Disk\r\n" +
           Block("FAT", "0", "", "G:\\", "1\xC2\xA0" "000", "500", "500") +
           "Net (H:) Information     Drive Type is Network\r\n" + Block("NTFS", "0", "\\\\s\\h", "H:\\", "", "", "") +
           Summary(4, {1, 0, 0, 1, 1, 1}, "987\xC2\xA0" "654\xC2\xA0" "321\xC2\xA0" "101",
                   "864\xC2\xA0" "197\xC2\xA0" "532\xC2\xA0" "088", "123\xC2\xA0" "456\xC2\xA0" "789\xC2\xA0" "013")},
      // A type outside 0..5 shows no type text, neither the text of an earlier
      // ready drive nor that of a not-ready one, and counts nowhere.
      {"type outside the table",
       {{true, "P", "Odd", 6, "X", 0, "", "/p", 1000, 0},
        {true, "C", "Sys", 2, "NTFS", 0, "", "C:\\", 1000, 0},
        {true, "Q", "Odd", -1, "X", 0, "", "/q", 1000, 0},
        kNotReadyA,
        {true, "R", "", 7, "X", 0, "", "/r", 1000, 0}},
       ",",
       "Odd (P:) Information     \r\n" + Block("X", "0", "", "/p", "1,000", "1,000", "") +
           "Sys (C:) Information     Drive Type is Fixed\r\n" + Block("NTFS", "0", "", "C:\\", "1,000", "1,000", "") +
           "Odd (Q:) Information     \r\n" + Block("X", "0", "", "/q", "1,000", "1,000", "") +
           " (A:)     Drive Not Ready\r\n" + "No Volume Name On (R:) Information     \r\n" +
           Block("X", "0", "", "/r", "1,000", "1,000", "") + Summary(5, {0, 0, 1, 0, 0, 0}, "4", "4", "")},
  };
  for (const ReportCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSource source(c.drives);
    EXPECT_EQ(GetDrivesReport(source, c.separator), c.report);
  }
}

TEST(DrivesReportTest, GroupedForms) {
  const std::pair<int64_t, const char*> whole[] = {
      {0, ""},
      {7, "7"},
      {999, "999"},
      {1000, "1,000"},
      {-1234567, "-1,234,567"},
      {std::numeric_limits<int64_t>::max(), "9,223,372,036,854,775,807"},
      {std::numeric_limits<int64_t>::min(), "-9,223,372,036,854,775,808"},
  };
  for (const auto& [value, text] : whole) EXPECT_EQ(GroupedNumber(value, ","), text) << value;

  const std::pair<int64_t, const char*> tenths[] = {
      {4999, ""},       {5000, "1"},       {-5000, "-1"},  {-4999, ""},  {15000, "2"},
      {24999, "2"},     {25000, "3"},      {9999995000, "1,000,000"},
      {std::numeric_limits<int64_t>::max(), "922,337,203,685,478"},
      {std::numeric_limits<int64_t>::min(), "-922,337,203,685,478"},
  };
  for (const auto& [value, text] : tenths) EXPECT_EQ(GroupedTenThousandths(value, ","), text) << value;
  EXPECT_EQ(GroupedNumber(1234567, ""), "1234567");
  EXPECT_EQ(GroupedNumber(1234567, " "), "1 234 567");
}

TEST(DrivesReportTest, FailingReadEndsTheReport) {
  for (const char* property : {"Open", "Drives", "IsReady", "DriveLetter", "VolumeName", "DriveType", "FileSystem",
                               "SerialNumber", "ShareName", "Path", "TotalSize", "FreeSpace", "Count"}) {
    SCOPED_TRACE(property);
    FakeSource source({kNotReadyA, kDataC}, property);
    try {
      GetDrivesReport(source, ",");
      FAIL() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kPlatform);
    }
  }
}

void ExpectOverflow(std::vector<DriveData> drives) {
  FakeSource source(std::move(drives));
  try {
    GetDrivesReport(source, ",");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kOverflow) << e.what();
  }
}

TEST(DrivesReportTest, CountersAndTotalsOverflow) {
  const DriveData fixed{true, "C", "V", 2, "NTFS", 0, "", "C:\\", 1000, 0};
  {
    SCOPED_TRACE("32767 drives of one type fit");
    FakeSource source(std::vector<DriveData>(32767, fixed));
    const std::string report = GetDrivesReport(source, ",");
    EXPECT_EQ(report.substr(report.find("\r\nSYSTEM")),
              Summary(32767, {0, 0, 32767, 0, 0, 0}, "32,767", "32,767", ""));
  }
  {
    SCOPED_TRACE("the 32768th drive of one type");
    ExpectOverflow(std::vector<DriveData>(32768, fixed));
  }
  const int64_t big = 400000000000000000;  // 4e17 bytes: 4e18 tenths of a byte
  DriveData large{true, "Z", "V", 2, "NTFS", 0, "", "Z:\\", big, 0};
  {
    SCOPED_TRACE("two large drives fit");
    FakeSource source({large, large});
    const std::string report = GetDrivesReport(source, ",");
    EXPECT_EQ(report.substr(report.find("\r\nSYSTEM")),
              Summary(2, {0, 0, 2, 0, 0, 0}, "800,000,000,000,000", "800,000,000,000,000", ""));
  }
  {
    SCOPED_TRACE("the third passes the range of the totals");
    ExpectOverflow({large, large, large});
  }
  {
    SCOPED_TRACE("one size beyond the range alone");
    ExpectOverflow({{true, "Z", "V", 2, "NTFS", 0, "", "Z:\\", std::numeric_limits<int64_t>::max(), 0}});
  }
}

constexpr const char* kStamp = "6.12.2026 1:11:54";

std::string OtherRecords() {
  using testing::Record;
  return Record(kStamp, "4.\tFalse") + Record(kStamp, "5.\tFalse") + Record(kStamp, "6.\tFalse") +
         Record(kStamp, "7.\tFalse") + Record(kStamp, "8.\ta) Native machine detected.\r\n") +
         Record(kStamp, std::string(90, '#'));
}

std::string FirstRecords() {
  using testing::Record;
  return Record(kStamp, "1.\tStart Adapter Info ... \r\nBuffer=0 Exit from Adapter info.") +
         Record(kStamp, "2.\t");
}

TEST(DrivesCliTest, ReplayedExampleLogsTheWholeRun) {
  testing::ScratchDir dir;
  const auto r = testing::RunCliCapture({"--replay", testing::Fixture("drives_example.json"), "--pass", "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(testing::ReadFile("TEST_OUT.TXT"),
            FirstRecords() + testing::Record(kStamp, std::string("3.\t") + kExampleReport) + OtherRecords());
}

TEST(DrivesCliTest, FailingReadEndsTheRunWithoutRecordThree) {
  testing::ScratchDir dir;
  const auto r = testing::RunCliCapture({"--replay", testing::Fixture("drives_fail.json"), "--pass", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "hostprobe: error: platform call failed: drive E: reading FreeSpace failed\n");
  EXPECT_EQ(testing::ReadFile("TEST_OUT.TXT"), FirstRecords());
}

TEST(DrivesCliTest, CaptureOfAReplayRoundTrips) {
  testing::ScratchDir dir;
  for (const char* fixture : {"drives_example.json", "drives_fail.json"}) {
    SCOPED_TRACE(fixture);
    const auto r = testing::RunCliCapture({"--replay", testing::Fixture(fixture), "--capture", "out.json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const SnapshotData original = ReadSnapshotFile(testing::Fixture(fixture));
    const SnapshotData captured = ReadSnapshotFile("out.json");
    EXPECT_EQ(captured.thousands_separator, std::optional<std::string>(","));
    ASSERT_EQ(captured.drives.size(), original.drives.size());
    for (std::size_t i = 0; i < original.drives.size(); ++i) {
      const SnapshotDrive& a = original.drives[i];
      const SnapshotDrive& b = captured.drives[i];
      EXPECT_EQ(std::tie(a.letter, a.ready, a.volume_name, a.type, a.file_system, a.serial_number, a.share_name,
                         a.root_path, a.total_size, a.free_space, a.fail),
                std::tie(b.letter, b.ready, b.volume_name, b.type, b.file_system, b.serial_number, b.share_name,
                         b.root_path, b.total_size, b.free_space, b.fail))
          << i;
    }
  }
}

}  // namespace
}  // namespace hostprobe
