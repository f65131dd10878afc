// frmTest's layout in twips (1/1440 inch), shared by the Qt and the Win32
// window: the client area, the text box and the four buttons.
#pragma once

namespace hostprobe {

struct TwipRect {
  int left, top, width, height;
};

inline constexpr int kFormClientWidth = 6855;
inline constexpr int kFormClientHeight = 4635;
inline constexpr TwipRect kFormTxt{0, 0, 6855, 3975};
inline constexpr TwipRect kFormStart1{120, 4080, 1695, 375};
inline constexpr TwipRect kFormStart2{2040, 4080, 1695, 375};
inline constexpr TwipRect kFormKonec{4920, 4080, 1815, 375};
inline constexpr TwipRect kFormTest{3840, 4080, 975, 375};

// Pixels for `twips` at `dpi`, rounded to the nearest (half away from zero,
// as MulDiv rounds).
constexpr int TwipsToPixels(int twips, int dpi) {
  const long long scaled = static_cast<long long>(twips) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440));
}

}  // namespace hostprobe
