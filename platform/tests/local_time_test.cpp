#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/clock.h"

namespace platform {
namespace {

// 2024-03-06 (a Wednesday) 23:59:58.750 UTC.
constexpr int64_t kLateWednesdayMs = 1709769598750;

int MillisecondOfDay(const LocalTime& t) {
  return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

TEST(LocalTime, IsTheSetInstantMovedOnByTheStationClock) {
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  ScopedClockScale fast(1000.0);
  SetLocalTime(kLateWednesdayMs);
  const LocalTime set = GetLocalTime();
  EXPECT_EQ(set.year, 2024);
  EXPECT_EQ(set.month, 3);
  EXPECT_EQ(set.day, 6);
  EXPECT_EQ(set.weekday, 3);
  EXPECT_EQ(MillisecondOfDay(set) / 1000, (23 * 60 + 59) * 60 + 58);

  Sleep(1500);  // station time: past midnight into Thursday
  const LocalTime later = GetLocalTime();
  EXPECT_EQ(later.day, 7);
  EXPECT_EQ(later.weekday, 4);
  EXPECT_GE(MillisecondOfDay(later), 250) << "at least the slept 1500 ms went by";
  EXPECT_LT(later.millisecond, 1000);
}

}  // namespace
}  // namespace platform
