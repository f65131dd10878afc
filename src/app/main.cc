#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/terminal.h"
#include "app/window_program.h"

int main(int argc, char** argv) {
  // A closed output pipe or a file-size limit makes the write fail with
  // EPIPE or EFBIG instead of killing the run part-way: the log still gets
  // every record it can, and the failure is reported. The window program
  // gets both back at their defaults.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  try {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    hostprobe::CliHooks hooks;
    hooks.open_window = hostprobe::OpenWindowProgram;
    hooks.enter_key_mode = hostprobe::EnterKeyMode;
    hooks.stderr_is_terminal = [] { return isatty(STDERR_FILENO) == 1; };
    return hostprobe::RunCli(args, std::cin, std::cout, std::cerr, hooks);
  } catch (const std::bad_alloc&) {
    std::cerr << "hostprobe: error: out of memory\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "hostprobe: error: " << e.what() << "\n";
    return 1;
  }
}
