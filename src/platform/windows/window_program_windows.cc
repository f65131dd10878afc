#include "platform/window_program.h"

namespace hostprobe {

// The Windows window lives in the program itself (src/app/win32), not in a
// program of its own.
std::optional<int> OpenWindowProgram(const std::optional<std::string>&) { return std::nullopt; }

}  // namespace hostprobe
