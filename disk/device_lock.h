// Process-wide state that the port workers share around disk work: the
// device lock and the retry bound of the format routes.
#pragma once

#include <atomic>
#include <mutex>

namespace disk {

// The device lock: one worker at a time resets a bridge, makes one re-find
// attempt, runs the disk re-scan or formats a volume through the system's
// format command or format service. A critical section, so the holder may
// take it again.
inline std::recursive_mutex& DeviceLock() {
  static std::recursive_mutex lock;
  return lock;
}

// Holds the device lock for a scope; released on every exit path.
using DeviceLockHolder = std::lock_guard<std::recursive_mutex>;

}  // namespace disk

// Bound of every retry loop of the format routes and of the FAT32
// formatter. The production pass sets it, before the workers start, to five
// times the number of present ports.
inline std::atomic<int> g_nHDDAccessRetry{0};
