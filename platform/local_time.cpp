#include "platform/local_time.h"

#include <time.h>

#include <chrono>
#include <mutex>

#include "platform/clock.h"

namespace platform {
namespace {

struct Base {
  std::mutex mutex;
  bool set = false;
  int64_t unixMs = 0;
  uint64_t stationMs = 0;
};

Base& TheBase() {
  static Base base;
  return base;
}

int64_t WallUnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void SetLocalTime(int64_t unixMs) {
  Base& base = TheBase();
  std::lock_guard lock(base.mutex);
  base.set = true;
  base.unixMs = unixMs;
  base.stationMs = GetTickCount64();
}

LocalTime GetLocalTime() {
  Base& base = TheBase();
  int64_t unixMs = 0;
  {
    std::lock_guard lock(base.mutex);
    const uint64_t now = GetTickCount64();
    if (!base.set) {
      base.set = true;
      base.unixMs = WallUnixMs();
      base.stationMs = now;
    }
    unixMs = base.unixMs + static_cast<int64_t>(now - base.stationMs);
  }
  int64_t seconds = unixMs / 1000;
  int64_t millisecond = unixMs % 1000;
  if (millisecond < 0) {
    millisecond += 1000;
    --seconds;
  }
  const time_t t = static_cast<time_t>(seconds);
  tm local{};
  ::localtime_r(&t, &local);
  LocalTime out;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.weekday = local.tm_wday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec;
  out.millisecond = static_cast<int>(millisecond);
  return out;
}

}  // namespace platform
