#include "platform/linux/clock_linux.h"

#include <gtest/gtest.h>

namespace hostprobe {
namespace {

std::tm At(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_wday = 0;
  return t;
}

TEST(ClockTest, GeneralDateIsShortDateAndLongTimeButDateAloneAtMidnight) {
  EXPECT_EQ(GeneralDateText(At(1, 11, 54), "C"), "12/06/26 01:11:54");
  EXPECT_EQ(GeneralDateText(At(0, 0, 1), "C"), "12/06/26 00:00:01");
  EXPECT_EQ(GeneralDateText(At(0, 0, 0), "C"), "12/06/26");
  EXPECT_EQ(GeneralDateText(At(23, 59, 59), "C"), "12/06/26 23:59:59");
}

TEST(ClockTest, UnknownLocaleFallsBackToC) {
  EXPECT_EQ(GeneralDateText(At(1, 2, 3), "xx_NOPE.UTF-8"), "12/06/26 01:02:03");
}

}  // namespace
}  // namespace hostprobe
