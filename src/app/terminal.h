// Key-by-key input on a terminal, for the interactive console.
#pragma once

#include <memory>

namespace hostprobe {

// When standard input is a terminal: switches it to unbuffered input without
// echo and returns a guard that restores it. Otherwise returns null.
std::shared_ptr<void> EnterKeyMode();

}  // namespace hostprobe
