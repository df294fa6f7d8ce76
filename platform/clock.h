// Time as the station sees it: every sleep, tick and delay in the product and
// in the bench goes through it. Station time is real time plus the time
// sleeps were shortened by: with a scale above 1 a sleep takes 1/scale of its
// length in real time, so the fixed sleeps and polls of the device flows and
// the bench's modelled device time cost tests little real time, while the
// host's own work counts as it runs (it is never multiplied by the scale).
#pragma once

#include <cstdint>

namespace platform {

void Sleep(uint32_t milliseconds);
// The same for device time the bench models (no sleep observer call).
void SleepNanoseconds(int64_t nanoseconds);
// Milliseconds since the process started, on the station clock.
[[nodiscard]] uint32_t GetTickCount();
[[nodiscard]] uint64_t GetTickCount64();
// High-resolution counter on the station clock and its ticks per second.
[[nodiscard]] int64_t QueryPerformanceCounter();
[[nodiscard]] int64_t QueryPerformanceFrequency();

// Station milliseconds a sleep lasts per real millisecond (1 = real time).
// The clock stays monotonic across a change.
void SetClockScale(double scale);
double ClockScale();

// A manual clock stands still but for sleeps, each of which moves it on by
// its length at once without waiting: the station time a test sees is the
// time its code slept, whatever the load on the machine. Threads sleeping
// at once share it, each sleep starting where the clock stands, so a time
// one thread measures includes the others' sleeps. Set before the threads
// that sleep start.
void SetManualClock(bool manual);
bool ManualClock();

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

class ScopedManualClock {
 public:
  ScopedManualClock() : previous_(ManualClock()) { SetManualClock(true); }
  ~ScopedManualClock() { SetManualClock(previous_); }
  ScopedManualClock(const ScopedManualClock&) = delete;
  ScopedManualClock& operator=(const ScopedManualClock&) = delete;

 private:
  bool previous_;
};

}  // namespace platform
