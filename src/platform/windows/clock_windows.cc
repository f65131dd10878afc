#include <windows.h>

#include <memory>
#include <string>

#include "platform/live/live.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

// The user's locale: short date and long time, and the digit grouping
// separator, as the system formats them.
class ClockWindows : public Clock {
 public:
  std::string GeneralDate() override {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[128] = {};
    wchar_t time[128] = {};
    GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128, nullptr);
    std::wstring text = date;
    if (now.wHour != 0 || now.wMinute != 0 || now.wSecond != 0) {
      GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &now, nullptr, time, 128);
      text += L' ';
      text += time;
    }
    return WideToSystem(text);
  }

  std::string ThousandsSeparator() override {
    wchar_t sep[8] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, sep, 8) <= 1) return ",";
    return WideToSystem(sep);
  }
};

}  // namespace

std::unique_ptr<Clock> MakeClock() { return std::make_unique<ClockWindows>(); }

}  // namespace hostprobe
