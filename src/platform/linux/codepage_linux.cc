// On Linux the system's 8-bit text is the locale's character set, in practice
// UTF-8: bytes pass through unchanged.
#include "platform/live/live.h"

namespace hostprobe {

std::string Utf8ToSystem(std::string_view utf8) { return std::string(utf8); }
std::string SystemToUtf8(std::string_view text) { return std::string(text); }

}  // namespace hostprobe
