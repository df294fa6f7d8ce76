#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace platform {
namespace {

using RealClock = std::chrono::steady_clock;

// Station time = base + (real - realBase) * scale. A scale change re-bases so
// the station clock never runs backwards; readers take the three values under
// a sequence counter so they never see half a change.
struct ClockState {
  std::atomic<uint64_t> sequence{0};
  std::atomic<int64_t> realBaseNs{0};
  std::atomic<int64_t> stationBaseNs{0};
  std::atomic<double> scale{1.0};
  std::mutex writer;
};

int64_t RealNs() {
  static const RealClock::time_point start = RealClock::now();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(RealClock::now() - start).count();
}

ClockState& State() {
  static ClockState state;
  return state;
}

int64_t StationNs() {
  ClockState& s = State();
  for (;;) {
    const uint64_t before = s.sequence.load(std::memory_order_acquire);
    if (before & 1) continue;
    const int64_t realBase = s.realBaseNs.load(std::memory_order_acquire);
    const int64_t stationBase = s.stationBaseNs.load(std::memory_order_acquire);
    const double scale = s.scale.load(std::memory_order_acquire);
    const int64_t now = RealNs();
    if (s.sequence.load(std::memory_order_acquire) != before) continue;
    return stationBase + static_cast<int64_t>(static_cast<double>(now - realBase) * scale);
  }
}

}  // namespace

void SetClockScale(double scale) {
  if (!(scale > 0)) scale = 1.0;
  ClockState& s = State();
  std::lock_guard lock(s.writer);
  const int64_t station = StationNs();
  const int64_t real = RealNs();
  s.sequence.fetch_add(1, std::memory_order_acq_rel);
  s.realBaseNs.store(real, std::memory_order_release);
  s.stationBaseNs.store(station, std::memory_order_release);
  s.scale.store(scale, std::memory_order_release);
  s.sequence.fetch_add(1, std::memory_order_acq_rel);
}

double ClockScale() { return State().scale.load(std::memory_order_acquire); }

namespace {
std::atomic<SleepObserver> sleepObserver{nullptr};
}  // namespace

void SetSleepObserver(SleepObserver observer) { sleepObserver.store(observer); }

void Sleep(uint32_t milliseconds) {
  if (const SleepObserver observer = sleepObserver.load()) observer(milliseconds);
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  const int64_t until = StationNs() + static_cast<int64_t>(milliseconds) * 1000000;
  for (;;) {
    const int64_t left = until - StationNs();
    if (left <= 0) return;
    const double realNs = static_cast<double>(left) / ClockScale();
    std::this_thread::sleep_for(std::chrono::nanoseconds(static_cast<int64_t>(realNs) + 1));
  }
}

uint64_t GetTickCount64() { return static_cast<uint64_t>(StationNs() / 1000000); }
uint32_t GetTickCount() { return static_cast<uint32_t>(GetTickCount64()); }
int64_t QueryPerformanceCounter() { return StationNs(); }
int64_t QueryPerformanceFrequency() { return 1000000000; }

}  // namespace platform
