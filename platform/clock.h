// Time as the station sees it. The clock can run faster than real time so
// that the fixed sleeps and polls of the device flows cost tests no real time;
// every sleep, tick and delay in the product and in the bench goes through it.
#pragma once

#include <cstdint>

namespace platform {

void Sleep(uint32_t milliseconds);
// Milliseconds since the process started, on the station clock.
uint32_t GetTickCount();
uint64_t GetTickCount64();
// High-resolution counter on the station clock and its ticks per second.
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();

// Station milliseconds per real millisecond (1 = real time). Set before the
// threads that sleep start; the clock stays monotonic across a change.
void SetClockScale(double scale);
double ClockScale();

// Called on the sleeping thread at the start of every Sleep (lock probes in
// tests). Null removes it; install it before the threads that sleep start.
using SleepObserver = void (*)(uint32_t milliseconds);
void SetSleepObserver(SleepObserver observer);

class ScopedClockScale {
 public:
  explicit ScopedClockScale(double scale) : previous_(ClockScale()) { SetClockScale(scale); }
  ~ScopedClockScale() { SetClockScale(previous_); }
  ScopedClockScale(const ScopedClockScale&) = delete;
  ScopedClockScale& operator=(const ScopedClockScale&) = delete;

 private:
  double previous_;
};

}  // namespace platform
