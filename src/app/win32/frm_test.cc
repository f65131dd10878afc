#include "app/win32/frm_test.h"

#include <memory>
#include <new>
#include <string>

#include "app/form_layout.h"
#include "session/session.h"
#include "session/text_box.h"
#include "platform/error.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe::win32 {
namespace {

constexpr wchar_t kClassName[] = L"hostprobe.frmTest";
constexpr wchar_t kTitle[] = L"hostprobe";

// The controls in tab order, placed by the shared twip layout.
constexpr int kClientWidth = kFormClientWidth;
constexpr int kClientHeight = kFormClientHeight;
struct ControlSpec {
  int id;
  const wchar_t* caption;
  TwipRect at;
};
constexpr ControlSpec kButtons[] = {
    {kIdStart1, L"START TESTU 1/2", kFormStart1},
    {kIdStart2, L"START TESTU 2/2", kFormStart2},
    {kIdKonec, L"Konec", kFormKonec},
    {kIdTest, L"TEST", kFormTest},
};
constexpr ControlSpec kTxt = {kIdTxt, L"", kFormTxt};

int Px(int twips, UINT dpi) { return TwipsToPixels(twips, static_cast<int>(dpi)); }

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi && window) {
    if (const UINT dpi = get_dpi(window)) return dpi;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The text box as the session sees it.
class EditTextBox : public TextBox {
 public:
  explicit EditTextBox(HWND edit) : edit_(edit) {}
  std::string Text() const override {
    const int n = GetWindowTextLengthW(edit_);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(edit_, text.data(), n + 1)));
    return WideToUtf8(text);
  }
  // The run does not yield to the message loop, so the box is repainted at
  // once to show each progress line.
  void SetText(const std::string& text) override {
    SetWindowTextW(edit_, Utf8ToWide(text).c_str());
    UpdateWindow(edit_);
  }

 private:
  HWND edit_;
};

struct WindowState {
  Platform* platform = nullptr;
  ErrorSink on_error;
  HWND txt = nullptr;
  HWND buttons[4] = {};
  HFONT font = nullptr;
  std::unique_ptr<EditTextBox> text_box;
  std::unique_ptr<Session> session;
  int exit_code = 0;
  // Set while an error is shown: the message box runs its own message loop,
  // and a click queued during the failed run must not start another.
  bool failing = false;
  // Set by WM_NCCREATE: from then on the window owns this state and frees it
  // on WM_NCDESTROY, also when its creation fails.
  bool* adopted = nullptr;
};

void ApplyLayout(HWND window, WindowState& s, UINT dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpyW(lf.lfFaceName, L"Segoe UI");
  const HFONT font = CreateFontIndirectW(&lf);
  auto place = [&](HWND control, const ControlSpec& c) {
    MoveWindow(control, Px(c.at.left, dpi), Px(c.at.top, dpi), Px(c.at.width, dpi), Px(c.at.height, dpi), TRUE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  };
  place(s.txt, kTxt);
  for (int i = 0; i < 4; ++i) place(s.buttons[i], kButtons[i]);
  if (s.font) DeleteObject(s.font);
  s.font = font;
  (void)window;
}

RECT OuterRect(UINT dpi, DWORD style, DWORD ex_style) {
  RECT r{0, 0, Px(kClientWidth, dpi), Px(kClientHeight, dpi)};
  using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjust_for_dpi) {
    adjust_for_dpi(&r, style, FALSE, ex_style, dpi);
  } else {
    AdjustWindowRectEx(&r, style, FALSE, ex_style);
  }
  return r;
}

void Fail(HWND window, WindowState& s, const std::string& message) {
  s.failing = true;
  s.exit_code = 1;
  if (s.on_error) {
    s.on_error(window, message);
  } else {
    MessageBoxW(window, Utf8ToWide(message).c_str(), kTitle, MB_OK | MB_ICONERROR);
  }
  // `s` is not touched again: the window may have gone while the box was up.
  if (IsWindow(window)) DestroyWindow(window);
}

void OnCommand(HWND window, WindowState& s, int id) {
  if (s.failing) return;
  try {
    switch (id) {
      case kIdStart1: s.session->Command1_Click(0); break;
      case kIdStart2: s.session->Command1_Click(1); break;
      case kIdTest: s.session->Test_Click(); break;
      case kIdKonec:
        s.session->Command2_Click();
        DestroyWindow(window);
        break;
      default: break;
    }
  } catch (const Error& e) {
    Fail(window, s, e.what());
  } catch (const std::bad_alloc&) {
    Fail(window, s, "out of memory");
  }
}

LRESULT CALLBACK WndProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  auto* s = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      if (auto* state = static_cast<WindowState*>(cs->lpCreateParams); state && state->adopted) {
        *state->adopted = true;
      }
      break;
    }
    case WM_CREATE: {
      const HINSTANCE instance = reinterpret_cast<CREATESTRUCTW*>(lp)->hInstance;
      // Created in tab order: Txt, the two start buttons, Konec, Test.
      s->txt = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE |
                                   ES_AUTOVSCROLL,
                               0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdTxt)),
                               instance, nullptr);
      for (int i = 0; i < 4; ++i) {
        const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                            (kButtons[i].id == kIdStart1 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        s->buttons[i] = CreateWindowExW(0, L"BUTTON", kButtons[i].caption, style, 0, 0, 0, 0, window,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtons[i].id)),
                                        instance, nullptr);
      }
      if (!s->txt || !s->buttons[3]) return -1;
      ApplyLayout(window, *s, WindowDpi(window));
      try {
        s->text_box = std::make_unique<EditTextBox>(s->txt);
        s->session = std::make_unique<Session>(*s->platform, *s->text_box);
      } catch (const std::bad_alloc&) {
        return -1;  // no exception may cross the window procedure
      }
      return 0;
    }
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && s) OnCommand(window, *s, LOWORD(wp));
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(kIdStart1, DC_HASDEFID);
    case 0x02E0: {  // WM_DPICHANGED: the window moved to a monitor of another scale
      const auto* suggested = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      if (s) ApplyLayout(window, *s, HIWORD(wp));
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE && s && s->buttons[0] && GetFocus() == nullptr) SetFocus(s->buttons[0]);
      break;
    case WM_DESTROY:
      if (s) {
        s->session.reset();
        if (s->font) DeleteObject(s->font);
        s->font = nullptr;
        PostQuitMessage(s->exit_code);
      }
      return 0;
    case WM_NCDESTROY:
      delete s;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default: break;
  }
  return DefWindowProcW(window, msg, wp, lp);
}

void RegisterOnce(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, kClassName, &wc)) return;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  // The program's own icon (resource 1), or the system's where it has none.
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
}

}  // namespace

HWND CreateFrmTest(Platform& platform, int show, ErrorSink on_error) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterOnce(instance);
  auto* state = new WindowState;
  state->platform = &platform;
  state->on_error = std::move(on_error);
  bool adopted = false;
  state->adopted = &adopted;
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  // Sized for the system DPI first, then again for the monitor it lands on.
  RECT r = OuterRect(WindowDpi(nullptr), style, 0);
  const HWND window = CreateWindowExW(0, kClassName, kTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                      r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, state);
  if (!window) {
    const DWORD error = GetLastError();
    // A window that failed after WM_NCCREATE has freed the state already.
    if (!adopted) delete state;
    throw Error(ErrorKind::kPlatform, "cannot create the window: " + SystemErrorText(error));
  }
  state->adopted = nullptr;
  r = OuterRect(WindowDpi(window), style, 0);
  SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window, show);
  UpdateWindow(window);
  return window;
}

namespace {

// One message: Tab, Enter and Esc go through the dialog manager, which turns
// Enter into the default button's click (IDOK) and Esc into IDCANCEL.
bool Handle(HWND window, MSG& msg, int* exit_code) {
  if (msg.message == WM_QUIT) {
    *exit_code = static_cast<int>(msg.wParam);
    return false;
  }
  if (!IsWindow(window) || !IsDialogMessageW(window, &msg)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace

bool PumpOne(HWND window, int* exit_code) {
  MSG msg;
  if (GetMessageW(&msg, nullptr, 0, 0) == -1) {
    *exit_code = 1;
    return false;
  }
  return Handle(window, msg, exit_code);
}

bool PumpPending(HWND window, int* exit_code) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!Handle(window, msg, exit_code)) return false;
  }
  return true;
}

int RunMessageLoop(HWND window) {
  int exit_code = 0;
  while (PumpOne(window, &exit_code)) {
  }
  return exit_code;
}

}  // namespace hostprobe::win32
