// Asks from another thread whether the device lock is held right now (the
// asking thread may hold it itself: the lock is recursive).
#pragma once

#include <future>
#include <mutex>

#include "disk/device_lock.h"

namespace disk::testing {

inline bool DeviceLockHeldElsewhere() {
  return std::async(std::launch::async, [] {
           std::unique_lock<platform::CriticalSection> probe(DeviceLock(), std::try_to_lock);
           return !probe.owns_lock();
         }).get();
}

}  // namespace disk::testing
