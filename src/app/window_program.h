// Starting the window from the command line. The window is a program of its
// own, so that the command-line modes never load a GUI toolkit.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostprobe {

// The window program's exit code when it cannot show a window on the display
// it was given, and the code of a child that could not start it at all.
inline constexpr int kWindowNoDisplayExit = 3;
inline constexpr int kWindowNotStartedExit = 127;
// The environment variable naming the descriptor on which the window program
// writes one byte once its window is shown.
inline constexpr const char* kWindowShownFdVariable = "HOSTPROBE_WINDOW_SHOWN_FD";

// The descriptor that variable names: decimal digits only, no sign, no
// blanks, at most INT_MAX; nullopt for anything else.
std::optional<int> ParseShownFd(std::string_view text);

// When a display answers and the window program is installed, runs the window
// (over the snapshot `replay`, if given) as a child and returns its exit code.
// Returns nullopt when no window can be shown here (no display, no program,
// or a program that ended before its window was shown because the display
// did not work), so that the interactive console starts instead.
std::optional<int> OpenWindowProgram(const std::optional<std::string>& replay);

// True when the display named by WAYLAND_DISPLAY or DISPLAY accepts a
// connection.
bool DisplayAnswers();

}  // namespace hostprobe
