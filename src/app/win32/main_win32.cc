// hostprobe.exe: a GUI program. Without options it opens frmTest; with
// options (--pass, --test, --console, --capture, --replay, --help) it runs the
// shared command line, printing to the console of the program that started
// it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/machine.h"
#include "app/win32/frm_test.h"
#include "platform/error.h"
#include "platform/snapshot/snapshot.h"
#include "app/terminal.h"
#include "platform/windows/windows_sources.h"

namespace {

UINT g_saved_output_cp = 0;

bool HasHandle(DWORD which) {
  const HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

// A GUI program started from a console gets no standard handles; it borrows
// its parent's console. Handles that were redirected (a pipe, a file, or the
// terminal Wine hands on) are kept.
void UseParentConsole() {
  const bool have_in = HasHandle(STD_INPUT_HANDLE);
  const bool have_out = HasHandle(STD_OUTPUT_HANDLE);
  const bool have_err = HasHandle(STD_ERROR_HANDLE);
  if (have_in && have_out && have_err) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
    // No console to show anything (started from a shortcut, say): what would
    // be printed goes nowhere, and is not a failure to write.
    if (!have_in) freopen("NUL", "r", stdin);
    if (!have_out) freopen("NUL", "w", stdout);
    if (!have_err) freopen("NUL", "w", stderr);
    return;
  }
  if (!have_in) freopen("CONIN$", "r", stdin);
  if (!have_out) freopen("CONOUT$", "w", stdout);
  if (!have_err) freopen("CONOUT$", "w", stderr);
  std::cin.clear();
  std::cout.clear();
  std::cerr.clear();
  // Progress lines are UTF-8 ("č"): show them so while we run.
  g_saved_output_cp = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  std::atexit([] { SetConsoleOutputCP(g_saved_output_cp); });
}

std::optional<int> OpenWindow(const std::optional<std::string>& replay) {
  hostprobe::Platform platform;
  try {
    platform = hostprobe::OpenPlatform(replay);
  } catch (const hostprobe::SnapshotError& e) {
    MessageBoxW(nullptr, hostprobe::Utf8ToWide(e.what()).c_str(), L"hostprobe", MB_OK | MB_ICONERROR);
    return 2;
  }
  try {
    const HWND window = hostprobe::win32::CreateFrmTest(platform, SW_SHOWNORMAL);
    return hostprobe::win32::RunMessageLoop(window);
  } catch (const hostprobe::Error& e) {
    MessageBoxW(nullptr, hostprobe::Utf8ToWide(e.what()).c_str(), L"hostprobe", MB_OK | MB_ICONERROR);
    return 1;
  } catch (const std::bad_alloc&) {
    MessageBoxW(nullptr, L"out of memory", L"hostprobe", MB_OK | MB_ICONERROR);
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  bool window_only = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--replay") {
      ++i;
    } else if (args[i].rfind("--replay=", 0) != 0) {
      window_only = false;
    }
  }
  if (!window_only) UseParentConsole();
  std::ios::sync_with_stdio(false);
  hostprobe::CliHooks hooks;
  hooks.enter_key_mode = hostprobe::EnterKeyMode;
  hooks.open_window = OpenWindow;
  return hostprobe::RunCli(args, std::cin, std::cout, std::cerr, hooks);
}
