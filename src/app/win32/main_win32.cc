// hostprobe.exe: a GUI program. Without options it opens frmTest; with
// options (--pass, --test, --console, --capture, --replay, --help) it runs the
// shared command line, printing to the console of the program that started
// it.
//
// hostprobe.com (HOSTPROBE_CONSOLE_TWIN): the same command line as a console
// program, so that cmd.exe and PowerShell wait for it and see its exit code;
// typing "hostprobe" picks it (.COM comes before .EXE in PATHEXT). Where the
// GUI program would open the window it starts hostprobe.exe from its own
// directory with the same arguments and returns at once.
#include <windows.h>
#include <io.h>

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

// Progress lines are UTF-8 ("č"): the console shows them so while we run.
void UseUtf8Output() {
  g_saved_output_cp = GetConsoleOutputCP();
  if (g_saved_output_cp == 0) return;  // no console
  SetConsoleOutputCP(CP_UTF8);
  std::atexit([] { SetConsoleOutputCP(g_saved_output_cp); });
}

// Whether what the C runtime writes to standard error reaches a console
// (not a pipe, a file or NUL): for hostprobe.exe that is the console it
// borrowed, for hostprobe.com the one it was given.
bool StderrIsConsole() {
  const intptr_t handle = _get_osfhandle(_fileno(stderr));
  if (handle == -1 || handle == -2) return false;
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}

#ifndef HOSTPROBE_CONSOLE_TWIN

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
  UseUtf8Output();
}

#endif

#ifdef HOSTPROBE_CONSOLE_TWIN

// The arguments as typed: the command line after the program name, skipped
// as the C runtime does (quoted up to the next quote, or up to a blank).
std::wstring ArgumentsAsTyped() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {}
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  return p;
}

std::wstring OwnDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Starts the window, hostprobe.exe beside this program, with our arguments,
// and does not wait for it.
std::optional<int> OpenWindow(const std::optional<std::string>&) {
  const std::wstring program = OwnDirectory() + L"hostprobe.exe";
  std::wstring command_line = L"\"" + program + L"\"" + ArgumentsAsTyped();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    const DWORD code = GetLastError();
    std::cerr << "hostprobe: error: cannot start " << hostprobe::ShownName(hostprobe::WideToUtf8(program))
              << ": " << hostprobe::SystemErrorText(code) << "\n";
    return 1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

#else

std::optional<int> OpenWindow(const std::optional<std::string>& replay) {
  try {
    hostprobe::Platform platform = hostprobe::OpenPlatform(replay);
    const HWND window = hostprobe::win32::CreateFrmTest(platform, SW_SHOWNORMAL);
    return hostprobe::win32::RunMessageLoop(window);
  } catch (const hostprobe::Error& e) {
    MessageBoxW(nullptr, hostprobe::Utf8ToWide(e.what()).c_str(), L"hostprobe", MB_OK | MB_ICONERROR);
    return e.kind() == hostprobe::ErrorKind::kSnapshot ? 2 : 1;
  } catch (const std::bad_alloc&) {
    MessageBoxW(nullptr, L"out of memory", L"hostprobe", MB_OK | MB_ICONERROR);
    return 1;
  }
}

#endif  // HOSTPROBE_CONSOLE_TWIN

}  // namespace

// The arguments as the system gives them, UTF-16 (wmain, -municode), in
// UTF-8 from here on: a file name the ANSI code page cannot hold ("čř.json"
// under code page 1252, "日本.json") is still that file, where main's
// best-fit conversion would name another one ("cr.json") or none ("??.json").
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(hostprobe::WideToUtf8(argv[i]));
#ifdef HOSTPROBE_CONSOLE_TWIN
  UseUtf8Output();
#else
  bool window_only = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--replay") {
      ++i;
    } else if (args[i].rfind("--replay=", 0) != 0) {
      window_only = false;
    }
  }
  if (!window_only) UseParentConsole();
#endif
  std::ios::sync_with_stdio(false);
  hostprobe::CliHooks hooks;
  hooks.enter_key_mode = hostprobe::EnterKeyMode;
  hooks.open_window = OpenWindow;
  hooks.stderr_is_terminal = StderrIsConsole;
  return hostprobe::RunCli(args, std::cin, std::cout, std::cerr, hooks);
}
