// The clock and the user's locale, as the reports need them.
#pragma once

#include <string>

namespace hostprobe {

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time in the locale's general-date form: short
  // date, a space, long time; the date alone at exactly midnight. 8-bit text.
  virtual std::string GeneralDate() = 0;
  // The locale's thousands separator; "," where the locale has none.
  virtual std::string ThousandsSeparator() = 0;
};

}  // namespace hostprobe
