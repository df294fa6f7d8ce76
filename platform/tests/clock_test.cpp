#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

double RealMs(auto f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST(ClockTest, ScaledSleepAdvancesStationTimeWithoutRealWait) {
  platform::ScopedClockScale fast(1000.0);
  const uint64_t before = platform::GetTickCount64();
  const double real = RealMs([] { platform::Sleep(5000); });
  const uint64_t after = platform::GetTickCount64();
  EXPECT_GE(after - before, 5000u);
  EXPECT_LT(real, 1000.0);
}

TEST(ClockTest, StaysMonotonicAcrossScaleChanges) {
  uint64_t last = platform::GetTickCount64();
  for (double scale : {1.0, 500.0, 1.0, 2000.0, 1.0}) {
    platform::SetClockScale(scale);
    platform::Sleep(3);
    const uint64_t now = platform::GetTickCount64();
    EXPECT_GE(now, last) << "scale " << scale;
    last = now;
  }
  platform::SetClockScale(1.0);
}

TEST(ClockTest, PerformanceCounterAgreesWithTicks) {
  const int64_t f = platform::QueryPerformanceFrequency();
  const int64_t c0 = platform::QueryPerformanceCounter();
  platform::Sleep(20);
  const int64_t c1 = platform::QueryPerformanceCounter();
  EXPECT_GE((c1 - c0) * 1000 / f, 20);
}

}  // namespace
