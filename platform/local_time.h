// The local date and time as the station sees it: the wall clock when the
// process first asks, going on with the station clock from there, so a scaled
// clock moves the date and time as it moves every sleep. Tests set it.
#pragma once

#include <cstdint>

namespace platform {

struct LocalTime {
  int year = 0;
  int month = 0;    // 1-12
  int day = 0;      // 1-31
  int weekday = 0;  // 0 Sunday .. 6 Saturday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

LocalTime GetLocalTime();

// From now on the local time reads `unixMs` (milliseconds since 1970-01-01
// UTC, shown in the machine's time zone) and goes on with the station clock.
void SetLocalTime(int64_t unixMs);

}  // namespace platform
