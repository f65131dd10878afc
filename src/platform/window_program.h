// Starting the window from the command line. The window is a program of its
// own, so that the command-line modes never load a GUI toolkit.
#pragma once

#include <optional>
#include <string>

namespace hostprobe {

// When a display is available and the window program is installed, replaces
// this process with the window (over the snapshot `replay`, if given) and
// does not return. Returns nullopt when no window can be shown here, so that
// the interactive console starts instead.
std::optional<int> OpenWindowProgram(const std::optional<std::string>& replay);

// True when the display named by WAYLAND_DISPLAY or DISPLAY accepts a
// connection.
bool DisplayAnswers();

}  // namespace hostprobe
