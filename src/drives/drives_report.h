// The drive inventory report.
#pragma once

#include <string>

#include "platform/drive_source.h"

namespace hostprobe {

// The text of test 3: a block per drive, then the system summary. Sizes are
// grouped in threes with `thousands_separator`.
std::string GetDrivesReport(DriveSource& source, const std::string& thousands_separator);

}  // namespace hostprobe
