// Placeholder until the adapter report lands.
#include "network/adapters_report.h"

namespace hostprobe {
std::string GetAdaptersReport(AdapterApi&) { return ""; }
}  // namespace hostprobe
