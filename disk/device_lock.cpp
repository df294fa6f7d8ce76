#include "disk/device_lock.h"

namespace disk {

platform::CriticalSection& DeviceLock() {
  static platform::CriticalSection lock;
  return lock;
}

platform::CriticalSection& SpeedLock() {
  static platform::CriticalSection lock;
  return lock;
}

}  // namespace disk

std::atomic<int> g_nHDDAccessRetry{0};
