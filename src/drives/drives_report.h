// The drive inventory report.
#pragma once

#include <cstdint>
#include <string>

#include "platform/drive_source.h"

namespace hostprobe {

// The text of test 3: a block per drive (a single line for a drive that is not
// ready), then the system summary with the drive count, the ready drives per
// type and the size totals in thousands of bytes. Sizes are grouped in threes
// with `thousands_separator`. Every property is read from the source at the
// step that shows it. Throws Error: whatever the source throws (kPlatform), and
// kOverflow when a type counter passes 32767, a used size leaves int64, or a
// total leaves the range of a signed 64-bit count of ten-thousandths.
std::string GetDrivesReport(DriveSource& source, const std::string& thousands_separator);

// The grouped form of a whole number: empty for 0, otherwise all its digits in
// groups of three from the right joined by `separator`, "-" in front when
// negative.
std::string GroupedNumber(int64_t value, const std::string& separator);

// The grouped form of a count of ten-thousandths, first rounded to a whole
// number with halves away from zero.
std::string GroupedTenThousandths(int64_t value, const std::string& separator);

}  // namespace hostprobe
