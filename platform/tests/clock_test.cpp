#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

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

// The host's own work counts as it runs: a scale speeds up sleeps, never
// the time the code spends working (which the old clock multiplied).
TEST(ClockTest, WorkIsNotMultipliedByTheScale) {
  platform::ScopedClockScale fast(1000.0);
  const uint64_t before = platform::GetTickCount64();
  const double real = RealMs([] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (std::chrono::steady_clock::now() < end) {
    }
  });
  const uint64_t station = platform::GetTickCount64() - before;
  EXPECT_LT(static_cast<double>(station), real * 10 + 5) << "20 ms of work read as " << station << " ms";
}

// Threads that sleep at once take the longest of their sleeps, not the sum.
// A manual clock moves by the sleeps alone, each by exactly its length.
TEST(ClockTest, ManualClockMovesOnlyBySleeps) {
  platform::ScopedManualClock manual;
  const int64_t before = platform::QueryPerformanceCounter();
  RealMs([] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
  EXPECT_EQ(platform::QueryPerformanceCounter(), before);
  platform::Sleep(2500);
  platform::SleepNanoseconds(1234);
  EXPECT_EQ(platform::QueryPerformanceCounter() - before, 2500000000 + 1234);
}

TEST(ClockTest, LeavingTheManualClockKeepsTheTimeItShows) {
  uint64_t shown = 0;
  {
    platform::ScopedManualClock manual;
    platform::Sleep(60000);
    shown = platform::GetTickCount64();
  }
  const uint64_t after = platform::GetTickCount64();
  EXPECT_GE(after, shown);
  EXPECT_LT(after, shown + 1000);
}

}  // namespace
