// The general-date form on Linux, for a given local time and locale name
// ("" for the user's LC_TIME).
#pragma once

#include <ctime>
#include <string>

namespace hostprobe {

// The locale's short date (D_FMT), a space and its long time (T_FMT); the
// date alone when the time is exactly midnight.
std::string GeneralDateText(const std::tm& local, const char* locale_name);

}  // namespace hostprobe
