// The command line shared by every build: parses the options, picks the
// platform (live or a snapshot) and runs the chosen front end.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hostprobe {

struct CliHooks {
  // Opens the window over the given snapshot (or the live machine) and returns
  // the exit code; returns nullopt when no window can be shown here, and the
  // interactive console starts instead. Unset: never a window.
  std::function<std::optional<int>(const std::optional<std::string>& replay)> open_window;
  // Puts the terminal into key-by-key input for the interactive console and
  // returns a guard that restores it; returns null when standard input is not
  // a terminal (lines are then read). Unset: lines.
  std::function<std::shared_ptr<void>()> enter_key_mode;
  // Whether standard error is a terminal: after a run there, one line says
  // how many records went to which log. Unset: not a terminal.
  std::function<bool()> stderr_is_terminal;
};

// Runs hostprobe with `args` (without the program name). Returns the exit
// code: 0 success, 1 an error ended the run, 2 bad usage or a bad snapshot.
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, const CliHooks& hooks = {});

// The --help text.
std::string UsageText();

}  // namespace hostprobe
