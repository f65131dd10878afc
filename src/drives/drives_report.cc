// Placeholder until the drive report lands.
#include "drives/drives_report.h"

namespace hostprobe {
std::string GetDrivesReport(DriveSource&, const std::string&) { return ""; }
}  // namespace hostprobe
