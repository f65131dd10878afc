// frmTest, the Win32 window: a multi-line text box and four buttons over one
// Session. All W functions; the session's UTF-8 text is shown as UTF-16.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/platform.h"

namespace hostprobe::win32 {

// Control ids. The first start button and Konec carry the ids a dialog
// manager gives Enter and Esc.
inline constexpr int kIdTxt = 100;
inline constexpr int kIdStart1 = IDOK;
inline constexpr int kIdStart2 = 101;
inline constexpr int kIdKonec = IDCANCEL;
inline constexpr int kIdTest = 102;

// Shows an error that ends the program; the default is a message box.
using ErrorSink = std::function<void(HWND owner, const std::string& utf8_message)>;

// Creates and shows the window over `platform` (which must outlive it). An
// error in a click handler goes to `on_error`, then the window is destroyed
// and the message loop ends with exit code 1.
HWND CreateFrmTest(Platform& platform, int show, ErrorSink on_error = {});

// Handles one message of the thread's queue as the window's loop does (Tab,
// Enter and Esc through the dialog manager). Returns false when the loop has
// ended; *exit_code then holds the program's exit code.
bool PumpOne(HWND window, int* exit_code);

// Handles every message waiting in the queue without blocking. Returns false
// when the loop has ended (*exit_code as above).
bool PumpPending(HWND window, int* exit_code);

// The message loop until the window is gone; returns the exit code.
int RunMessageLoop(HWND window);

}  // namespace hostprobe::win32
