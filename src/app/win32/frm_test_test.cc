// frmTest driven as a user would: real Win32 windows (under Wine and Xvfb in
// CI), button clicks through BM_CLICK, Enter and Esc through the keyboard
// messages, the text box read back with WM_GETTEXT.
#include "app/win32/frm_test.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "platform/windows/windows_sources.h"
#include "test_util.h"

namespace hostprobe::win32 {
namespace {

using testing::ReadFile;
using testing::RunCliCapture;
using testing::ScratchDir;
using testing::WriteFile;

constexpr const char* kSnapshot = R"({
  "hostprobe_snapshot": 1,
  "timestamp": "6.12.2026 1:11:54",
  "thousands_separator": ",",
  "adapters": {"records": [{"description": "Example Ethernet Adapter", "address_length": 6,
    "address": "02-00-5E-10-00-01", "adapter_name": "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}", "type": 6,
    "dhcp_enabled": 1, "ip_address_list": {"ip_address": "192.168.0.20"},
    "gateway_list": {"ip_address": "192.168.0.1"}, "dhcp_server": {"ip_address": "192.168.0.1"}}]},
  "interfaces": {"rows": [{"descr": "Loopback Interface", "type": 24, "admin_status": 1, "speed": 10000000}]},
  "drives": [{"letter": "A", "ready": false},
             {"letter": "C", "ready": true, "volume_name": "DATA", "type": 2, "file_system": "NTFS",
              "serial_number": 1622468873, "root_path": "C:\\", "total_size": 40007729152,
              "free_space": 12345678848}],
  "probes": {"IsInsideVPC": 0, "IsInsideVMWare": 1, "IsInsideVMWare2": 0, "IsInsideVMWare3": -1,
             "ldtCheck": 0, "mswCheck": 0, "vmwareCheck": 0}
})";

std::wstring TextOf(HWND control) {
  wchar_t buffer[4096] = {};
  const auto n = SendMessageW(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
  return std::wstring(buffer, static_cast<std::size_t>(n));
}

// The window's text after a whole run of the given start button.
std::wstring ProgressText(int pass) {
  std::wstring text = L"SOUBOR TEST\u016E: " + std::to_wstring(pass) + L"\r\n";
  for (int n = 1; n <= 8; ++n) {
    text += L"Start testu \u010D." + std::to_wstring(n) + L"\r\n";
    text += L"Konec testu \u010D." + std::to_wstring(n) + L"\r\n";
  }
  return text;
}

// The log the command line writes for the same snapshot and pass.
std::string CliLog(const std::string& snapshot, const std::string& pass, int exit_code = 0) {
  ScratchDir dir;
  const auto r = RunCliCapture({"--replay", snapshot, "--pass", pass});
  EXPECT_EQ(r.code, exit_code) << r.err;
  return ReadFile(dir.path() / "TEST_OUT.TXT");
}

int CountRecords(const std::string& log) {
  int n = 0;
  for (std::size_t at = log.find("\"6.12.2026 1:11:54\t"); at != std::string::npos;
       at = log.find("\"6.12.2026 1:11:54\t", at + 1)) {
    ++n;
  }
  return n;
}

// The snapshot of kSnapshot without its probe library, written into `dir`.
std::string WithoutProbeLibrary(const ScratchDir& dir) {
  std::string text = kSnapshot;
  text.replace(text.find("\"probes\": {"), std::string::npos, "\"probes\": null}");
  WriteFile(dir.path() / "snapshot.json", text);
  return (dir.path() / "snapshot.json").string();
}

void PostKey(HWND target, WPARAM key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

TEST(FrmTestWindow, LayoutFollowsTheTwipGeometryInTabOrder) {
  ScratchDir dir;
  Platform platform = MakeReplayPlatform(ParseSnapshot(kSnapshot, "inline"));
  const HWND window = CreateFrmTest(platform, SW_SHOWNORMAL);
  ASSERT_NE(window, nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_EQ(std::wstring(title), L"hostprobe");
  const UINT dpi = 96;  // Xvfb, and Wine's default
  auto px = [&](int twips) { return MulDiv(twips, static_cast<int>(dpi), 1440); };
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, px(6855));
  EXPECT_EQ(client.bottom, px(4635));

  struct Expected {
    int id;
    const wchar_t* caption;
    int left, top, width, height;
  };
  const Expected controls[] = {
      {kIdTxt, L"", 0, 0, 6855, 3975},
      {kIdStart1, L"START TESTU 1/2", 120, 4080, 1695, 375},
      {kIdStart2, L"START TESTU 2/2", 2040, 4080, 1695, 375},
      {kIdKonec, L"Konec", 4920, 4080, 1815, 375},
      {kIdTest, L"TEST", 3840, 4080, 975, 375},
  };
  HWND tab = GetDlgItem(window, kIdTxt);
  for (const Expected& c : controls) {
    const HWND control = GetDlgItem(window, c.id);
    ASSERT_NE(control, nullptr) << c.id;
    EXPECT_EQ(control, tab) << "tab order at " << c.id;
    tab = GetNextDlgTabItem(window, control, FALSE);
    EXPECT_EQ(TextOf(control), c.caption);
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, px(c.left)) << c.id;
    EXPECT_EQ(r.top, px(c.top)) << c.id;
    EXPECT_EQ(r.right - r.left, px(c.width)) << c.id;
    EXPECT_EQ(r.bottom - r.top, px(c.height)) << c.id;
  }
  DestroyWindow(window);
  int code = -1;
  PumpPending(window, &code);
}

// START TESTU 2/2, then Enter (START TESTU 1/2), TEST, and Esc (Konec): the
// text box shows each run's ten lines, the log holds each run's nine
// records exactly as the command line writes them, and Esc ends the loop
// with exit code 0 and no further record.
TEST(FrmTestWindow, ButtonsEnterAndEscDriveTheSession) {
  ScratchDir dir;
  WriteFile(dir.path() / "snapshot.json", kSnapshot);
  const std::string snapshot = (dir.path() / "snapshot.json").string();
  const std::string pass2 = CliLog(snapshot, "2");
  const std::string pass1 = CliLog(snapshot, "1");
  ASSERT_EQ(CountRecords(pass2), 9);

  Platform platform = MakeReplayPlatform(ReadSnapshotFile(snapshot));
  const HWND window = CreateFrmTest(platform, SW_SHOWNORMAL);
  const HWND txt = GetDlgItem(window, kIdTxt);
  int code = -1;
  ASSERT_TRUE(PumpPending(window, &code));
  EXPECT_EQ(TextOf(txt), L"");

  SendMessageW(GetDlgItem(window, kIdStart2), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpPending(window, &code));
  EXPECT_EQ(TextOf(txt), ProgressText(2));
  EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), pass2);

  SetFocus(GetDlgItem(window, kIdStart1));
  PostKey(GetFocus(), VK_RETURN);
  ASSERT_TRUE(PumpPending(window, &code));
  EXPECT_EQ(TextOf(txt), ProgressText(1));
  EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), pass2 + pass1);

  SendMessageW(GetDlgItem(window, kIdTest), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpPending(window, &code));
  EXPECT_EQ(TextOf(txt), L"Test Vmware : False\r\n");

  PostKey(GetFocus(), VK_ESCAPE);
  EXPECT_FALSE(PumpPending(window, &code));
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), pass2 + pass1);
}

// A missing probe library ends the run at test 4: the error is shown (here
// to a sink instead of a message box), the window closes, the loop ends
// with exit code 1, and the records of tests 1 to 3 stay.
TEST(FrmTestWindow, AnErrorIsShownAndEndsTheProgramWithCodeOne) {
  ScratchDir dir;
  const std::string snapshot = WithoutProbeLibrary(dir);
  const std::string expected_log = CliLog(snapshot, "1", 1);
  ASSERT_EQ(CountRecords(expected_log), 3);

  Platform platform = MakeReplayPlatform(ReadSnapshotFile(snapshot));
  std::string shown;
  const HWND window =
      CreateFrmTest(platform, SW_SHOWNORMAL, [&](HWND, const std::string& message) { shown = message; });
  SendMessageW(GetDlgItem(window, kIdStart1), BM_CLICK, 0, 0);
  int code = -1;
  EXPECT_FALSE(PumpPending(window, &code));
  EXPECT_EQ(code, 1);
  EXPECT_EQ(shown.rfind("probe library error: ", 0), 0u) << shown;
  EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), expected_log);
}

// The message box of an error runs its own message loop; a click queued
// during the failed run is not handled as a new run while the error shows.
TEST(FrmTestWindow, AClickQueuedDuringAFailedRunStartsNothing) {
  ScratchDir dir;
  const std::string snapshot = WithoutProbeLibrary(dir);
  const std::string expected_log = CliLog(snapshot, "1", 1);

  Platform platform = MakeReplayPlatform(ReadSnapshotFile(snapshot));
  int shown = 0;
  const HWND window = CreateFrmTest(platform, SW_SHOWNORMAL, [&](HWND owner, const std::string&) {
    ++shown;
    // What a message box does: handle the messages queued meanwhile.
    PostMessageW(owner, WM_COMMAND, MAKEWPARAM(kIdStart2, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(owner, kIdStart2)));
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  });
  SendMessageW(GetDlgItem(window, kIdStart1), BM_CLICK, 0, 0);
  int code = -1;
  EXPECT_FALSE(PumpPending(window, &code));
  EXPECT_EQ(code, 1);
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), expected_log);
}

// Refuses the creation of the text box, so that the window's WM_CREATE fails.
LRESULT CALLBACK RefuseEditControls(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND) {
    const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lp);
    const LPCWSTR name = create->lpcs->lpszClass;
    if (!IS_INTRESOURCE(name) && lstrcmpiW(name, L"EDIT") == 0) return 1;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// A window whose creation fails after it took its state frees that state
// once: the error sink it holds is destroyed exactly once.
TEST(FrmTestWindow, AWindowThatCannotBeCreatedIsAnErrorAndFreesItsStateOnce) {
  struct CountedSink {
    int* destroyed;
    bool live = true;
    CountedSink(int* d) : destroyed(d) {}
    CountedSink(const CountedSink& o) : destroyed(o.destroyed), live(o.live) {}
    CountedSink(CountedSink&& o) noexcept : destroyed(o.destroyed), live(o.live) { o.live = false; }
    ~CountedSink() {
      if (live) ++*destroyed;
    }
    void operator()(HWND, const std::string&) const {}
  };
  int destroyed = 0;
  Platform platform = MakeReplayPlatform(ParseSnapshot(kSnapshot, "inline"));
  const HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseEditControls, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  bool threw = false;
  {
    ErrorSink sink = CountedSink(&destroyed);
    destroyed = 0;  // the temporary's copy above does not count
    try {
      CreateFrmTest(platform, SW_HIDE, std::move(sink));
    } catch (const Error& e) {
      threw = true;
      EXPECT_EQ(std::string(e.what()).rfind("platform call failed: cannot create the window: ", 0), 0u) << e.what();
    }
  }
  UnhookWindowsHookEx(hook);
  EXPECT_TRUE(threw);
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace hostprobe::win32
