// Placeholder until the interface report lands.
#include "network/interfaces_report.h"

namespace hostprobe {
std::string GetInterfacesReport(InterfaceTableApi&) { return ""; }
}  // namespace hostprobe
