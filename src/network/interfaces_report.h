// The interface table report.
#pragma once

#include <string>

#include "platform/interface_table_api.h"

namespace hostprobe {

// The text of test 2: a count header and one numbered line per interface;
// empty when the platform has nothing or its filling call fails.
std::string GetInterfacesReport(InterfaceTableApi& api);

}  // namespace hostprobe
