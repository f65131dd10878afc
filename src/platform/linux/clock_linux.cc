#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <memory>
#include <string>

#include "platform/linux/clock_linux.h"
#include "platform/live/live.h"

namespace hostprobe {
namespace {

// The user's LC_TIME and LC_NUMERIC through a private locale object, so the
// process's global locale stays "C".
class LinuxClock : public Clock {
 public:
  explicit LinuxClock(const char* locale_name = "") {
    locale_ = newlocale(LC_TIME_MASK | LC_NUMERIC_MASK, locale_name, static_cast<locale_t>(0));
    if (locale_ == static_cast<locale_t>(0)) {
      locale_ = newlocale(LC_TIME_MASK | LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    }
  }
  ~LinuxClock() override {
    if (locale_ != static_cast<locale_t>(0)) freelocale(locale_);
  }
  LinuxClock(const LinuxClock&) = delete;
  LinuxClock& operator=(const LinuxClock&) = delete;

  std::string GeneralDate() override {
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    return GeneralDate(local);
  }

  std::string GeneralDate(const struct tm& local) {
    std::string text = Format(nl_langinfo_l(D_FMT, locale_), local);
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
      text += ' ';
      text += Format(nl_langinfo_l(T_FMT, locale_), local);
    }
    return text;
  }

  std::string ThousandsSeparator() override {
    const char* sep = nl_langinfo_l(THOUSEP, locale_);
    return (sep && *sep) ? sep : ",";
  }

 private:
  std::string Format(const char* pattern, const struct tm& t) {
    char buffer[256];
    const std::size_t n = strftime_l(buffer, sizeof buffer, pattern, &t, locale_);
    return std::string(buffer, n);
  }

  locale_t locale_;
};

}  // namespace

std::string GeneralDateText(const std::tm& local, const char* locale_name) {
  return LinuxClock(locale_name).GeneralDate(local);
}

std::unique_ptr<Clock> MakeClock() { return std::make_unique<LinuxClock>(); }

}  // namespace hostprobe
