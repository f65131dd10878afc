#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "platform/terminal.h"
#include "platform/window_program.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  hostprobe::CliHooks hooks;
  hooks.open_window = hostprobe::OpenWindowProgram;
  hooks.enter_key_mode = hostprobe::EnterKeyMode;
  return hostprobe::RunCli(args, std::cin, std::cout, std::cerr, hooks);
}
