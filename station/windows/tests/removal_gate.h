// Holds the removal threads at their first sleep on the station clock until
// the interface thread has acted inside its wait for them, so what a test
// tries during the wait is tried however fast the products answer (under the
// sanitizers the threads could end before the wait began).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"

namespace station::testing {

inline std::atomic<bool> removalGateOpen{true};
inline std::thread::id removalGateInterfaceThread;

inline void HoldUntilTheWaitActed(uint32_t) {
  if (std::this_thread::get_id() == removalGateInterfaceThread) return;
  while (!removalGateOpen.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// While it lives, sleeps of other threads wait for OpenRemovalGate().
struct RemovalGate {
  RemovalGate() {
    removalGateInterfaceThread = std::this_thread::get_id();
    removalGateOpen = false;
    platform::SetSleepObserver(&HoldUntilTheWaitActed);
  }
  ~RemovalGate() {
    removalGateOpen = true;
    platform::SetSleepObserver(nullptr);
  }
  RemovalGate(const RemovalGate&) = delete;
  RemovalGate& operator=(const RemovalGate&) = delete;
};

inline void OpenRemovalGate() { removalGateOpen = true; }

}  // namespace station::testing
