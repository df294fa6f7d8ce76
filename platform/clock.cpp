#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

using RealClock = std::chrono::steady_clock;

// Station time = real time + warp. The host's own work (CPU time) counts as
// it runs; a sleep lasts 1/scale of its length in real time and then moves
// the warp on so that the station clock has reached its end. Concurrent
// sleeps move it to the latest of their ends, never to their sum, so sixteen
// threads sleeping a second each take one station second. While the clock
// runs the warp only grows; a manual clock freezes the real part.
struct ClockState {
  std::atomic<int64_t> warpNs{0};
  std::atomic<double> scale{1.0};
  std::atomic<bool> manual{false};
  std::atomic<int64_t> frozenRealNs{0};
};

// Real sleeps shorter than this are not slept: the host's timers cannot
// keep them, and the warp carries the station time all the same.
constexpr int64_t kShortestRealSleepNs = 50000;

// Short sleeps (a command's modelled device time) move the clock of their
// own thread at once but the shared warp only once the thread is this far
// ahead of it, so threads that each model many short commands do not all
// write one shared word per command. Other threads see such time up to
// this much later.
constexpr int64_t kPublishAheadNs = 1000000;

// The station time this thread has slept to: its clock never reads less.
thread_local int64_t sleptTo = 0;

int64_t RealNs() {
  static const RealClock::time_point start = RealClock::now();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(RealClock::now() - start).count();
}

ClockState& State() {
  static ClockState state;
  return state;
}

int64_t RealPart() {
  ClockState& s = State();
  return s.manual.load(std::memory_order_acquire) ? s.frozenRealNs.load(std::memory_order_acquire) : RealNs();
}

int64_t SharedStationNs() { return RealPart() + State().warpNs.load(std::memory_order_acquire); }

int64_t StationNs() { return std::max(SharedStationNs(), sleptTo); }

// Moves the station clock on to `target` if it is not there yet.
void AdvanceTo(int64_t target) {
  std::atomic<int64_t>& warp = State().warpNs;
  int64_t current = warp.load(std::memory_order_acquire);
  for (;;) {
    const int64_t needed = target - RealPart();
    if (needed <= current) return;
    if (warp.compare_exchange_weak(current, needed, std::memory_order_acq_rel)) return;
  }
}

std::atomic<SleepObserver> sleepObserver{nullptr};

}  // namespace

void SetClockScale(double scale) {
  if (!(scale > 0)) scale = 1.0;
  State().scale.store(scale, std::memory_order_release);
}

double ClockScale() { return State().scale.load(std::memory_order_acquire); }

void SetManualClock(bool manual) {
  ClockState& s = State();
  if (s.manual.load() == manual) return;
  const int64_t station = StationNs();
  if (manual) {
    s.frozenRealNs.store(RealNs(), std::memory_order_release);
    s.manual.store(true, std::memory_order_release);
  } else {
    // The real part runs again from where it stood: re-base the warp so
    // the clock goes on from the time it shows.
    const int64_t real = RealNs();
    s.warpNs.store(station - real, std::memory_order_release);
    s.manual.store(false, std::memory_order_release);
  }
}

bool ManualClock() { return State().manual.load(std::memory_order_acquire); }

void SetSleepObserver(SleepObserver observer) { sleepObserver.store(observer); }

void SleepNanoseconds(int64_t nanoseconds) {
  if (nanoseconds <= 0) return;
  ClockState& s = State();
  const int64_t shared = SharedStationNs();
  const int64_t target = std::max(shared, sleptTo) + nanoseconds;
  const bool manual = s.manual.load(std::memory_order_acquire);
  if (!manual) {
    const auto real = static_cast<int64_t>(static_cast<double>(nanoseconds) / ClockScale());
    if (real >= kShortestRealSleepNs) std::this_thread::sleep_for(std::chrono::nanoseconds(real));
  }
  sleptTo = target;
  if (manual || target - shared >= kPublishAheadNs) AdvanceTo(target);
}

void Sleep(uint32_t milliseconds) {
  if (const SleepObserver observer = sleepObserver.load()) observer(milliseconds);
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  SleepNanoseconds(static_cast<int64_t>(milliseconds) * 1000000);
}

uint64_t GetTickCount64() { return static_cast<uint64_t>(StationNs() / 1000000); }
uint32_t GetTickCount() { return static_cast<uint32_t>(GetTickCount64()); }
int64_t QueryPerformanceCounter() { return StationNs(); }
int64_t QueryPerformanceFrequency() { return 1000000000; }

}  // namespace platform
