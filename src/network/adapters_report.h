// The adapter walk over the adapter API, and the adapter list report.
#pragma once

#include <string>

#include "platform/adapter_api.h"

namespace hostprobe {

// The text of test 1: a count header and one numbered line per adapter.
std::string GetAdaptersReport(AdapterApi& api);

}  // namespace hostprobe
