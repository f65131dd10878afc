#include "drives/drives_report.h"

#include <memory>

#include "platform/error.h"

namespace hostprobe {
namespace {

constexpr int kTypeCount = 6;

constexpr const char* kTypeTexts[kTypeCount] = {
    "Drive Type is Unknown", "Drive Type is Removable", "Drive Type is Fixed",
    "Drive Type is Network", "Drive Type is CD-ROM",    "Drive Type is RAM Disk",
};

constexpr const char* kTypeLabels[kTypeCount] = {
    " - Unknown Drives", " - Removable Drives", " - Fixed Drives",
    " - NetWork Drives", " - CD-ROM Drives",    " - RAM-Disk Drives",
};

constexpr const char* kNotReady = "Drive Not Ready\r\n";
constexpr const char* kIndent = "     ";

// Digits of `magnitude` grouped in threes; empty for 0.
std::string GroupDigits(uint64_t magnitude, bool negative, const std::string& separator) {
  if (magnitude == 0) return "";
  const std::string digits = std::to_string(magnitude);
  std::string out = negative ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

uint64_t Magnitude(int64_t value) {
  return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

// Size totals in ten-thousandths of a thousand bytes, that is tenths of a byte.
class Total {
 public:
  void Add(int64_t bytes, const char* what) {
    int64_t tenths;
    if (__builtin_mul_overflow(bytes, int64_t{10}, &tenths) ||
        __builtin_add_overflow(value_, tenths, &value_)) {
      throw Error(ErrorKind::kOverflow, std::string("the ") + what + " of the drives is out of range");
    }
  }
  int64_t value() const { return value_; }

 private:
  int64_t value_ = 0;
};

int64_t UsedBytes(Drive& drive) {
  const int64_t total = drive.TotalSize();
  const int64_t free = drive.FreeSpace();
  int64_t used;
  if (__builtin_sub_overflow(total, free, &used)) {
    throw Error(ErrorKind::kOverflow, "the used size of a drive is out of range");
  }
  return used;
}

}  // namespace

std::string GroupedNumber(int64_t value, const std::string& separator) {
  return GroupDigits(Magnitude(value), value < 0, separator);
}

std::string GroupedTenThousandths(int64_t value, const std::string& separator) {
  const uint64_t magnitude = Magnitude(value);
  uint64_t whole = magnitude / 10000;
  if (magnitude % 10000 >= 5000) ++whole;
  return GroupDigits(whole, value < 0, separator);
}

std::string GetDrivesReport(DriveSource& source, const std::string& thousands_separator) {
  const std::unique_ptr<DriveList> list = source.Open();
  std::string report;
  int16_t counters[kTypeCount] = {};
  Total total_sum, used_sum, free_sum;

  for (Drive* drive : list->Drives()) {
    if (!drive->IsReady()) {
      report += " (" + drive->DriveLetter() + ":)" + kIndent + kNotReady;
      continue;
    }
    if (drive->VolumeName().empty()) {
      report += "No Volume Name On (";
    } else {
      report += drive->VolumeName() + " (";
    }
    report += drive->DriveLetter() + ":) Information";
    // A type outside the table counts nowhere and shows no type text.
    const int32_t type = drive->DriveType();
    std::string type_text;
    if (type >= 0 && type < kTypeCount) {
      if (counters[type] == INT16_MAX) {
        throw Error(ErrorKind::kOverflow, std::string("too many drives of the type counted by \"") +
                                              (kTypeLabels[type] + 3) + "\"");
      }
      ++counters[type];
      type_text = kTypeTexts[type];
    }
    report += kIndent + type_text + "\r\n";
    report += std::string(kIndent) + "File System Type - " + drive->FileSystem() + "\r\n";
    report += std::string(kIndent) + "SerialNumber - " + std::to_string(drive->SerialNumber()) + "\r\n";
    report += std::string(kIndent) + "ShareName - " + drive->ShareName() + "\r\n";
    report += std::string(kIndent) + "Root Folder - " + drive->RootPath() + "\r\n";
    report += std::string(kIndent) + "Total Bytes Available - " +
              GroupedNumber(drive->TotalSize(), thousands_separator) + "\r\n";
    report += std::string(kIndent) + "Bytes Used - " + GroupedNumber(UsedBytes(*drive), thousands_separator) +
              "\r\n";
    report += std::string(kIndent) + "Free Space Available - " +
              GroupedNumber(drive->FreeSpace(), thousands_separator) + "\r\n";
    free_sum.Add(drive->FreeSpace(), "free space");
    total_sum.Add(drive->TotalSize(), "total size");
    used_sum.Add(UsedBytes(*drive), "used size");
  }

  report += "\r\nSYSTEM INFORMATION";
  report += "\r\n";
  report += "\r\nNumber of Drives - " + std::to_string(list->Count());
  for (int type = 0; type < kTypeCount; ++type) {
    report += "\r\n" + std::string(kIndent) + std::to_string(counters[type]) + kTypeLabels[type];
  }
  report += "\r\nTotal Bytes - " + GroupedTenThousandths(total_sum.value(), thousands_separator) + "K";
  report += "\r\nUsed Bytes - " + GroupedTenThousandths(used_sum.value(), thousands_separator) + "K";
  report += "\r\nFree Bytes - " + GroupedTenThousandths(free_sum.value(), thousands_separator) + "K";
  report += "\r\n";
  return report;
}

}  // namespace hostprobe
