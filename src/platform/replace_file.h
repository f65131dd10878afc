// The names of the new files that replace a whole file (--capture); the
// replacing itself is the live machine's (platform/live/live.h).
#pragma once

#include <string>

namespace hostprobe {

// Ten random lower-case letters and digits, for the name of a new file.
std::string RandomFileSuffix();

}  // namespace hostprobe
