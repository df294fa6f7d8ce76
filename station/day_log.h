// The day's result log: one file per day and running number in the log
// folder ("20240131_000.txt"), the name fixed at start-up; a file that has
// reached the roll-over size makes the next number the day log.
#pragma once

#include <cstdint>
#include <string>

namespace station {

inline constexpr int64_t kDayLogRollOverSize = 83000;
// The probe for the running number gives up after this many numbers.
inline constexpr int kDayLogNumberLimit = 100000;

// The day's name stem (log folder and date); only the running number is
// formatted into it, so the folder may hold any character.
struct DayLogName {
  std::string stem;  // "<log folder>/YYYYMMDD"
  std::string Path(int number) const;
};

DayLogName MakeDayLogName(const std::string& logFolder, int year, int month, int day);

// The number before the first missing file (0 when none exists), one more
// when that file has already reached the roll-over size.
int FindRunningNumber(const DayLogName& name);

}  // namespace station
