#include "station/day_log.h"

#include <cstdio>

#include "platform/files.h"

namespace station {
namespace {

bool Exists(const std::string& path) {
  return platform::GetFileAttributes(path.c_str()) != platform::kInvalidFileAttributes;
}

// True when the file opens and has reached the roll-over size.
bool ReachedRollOver(const std::string& path) {
  const platform::Handle file = platform::CreateFile(path.c_str(), platform::kAccessRead,
                                                     platform::kShareRead | platform::kShareWrite,
                                                     platform::kOpenExisting, 0);
  if (file == platform::kInvalidHandle) return false;
  int64_t size = 0;
  const bool sized = platform::GetFileSizeEx(file, &size);
  platform::CloseHandle(file);
  return sized && size >= kDayLogRollOverSize;
}

}  // namespace

std::string DayLogName::Path(int number) const {
  char tail[32];
  std::snprintf(tail, sizeof tail, "_%03d.txt", number);
  return stem + tail;
}

DayLogName MakeDayLogName(const std::string& logFolder, int year, int month, int day) {
  char date[32];
  std::snprintf(date, sizeof date, "/%04d%02d%02d", year, month, day);
  return {logFolder + date};
}

int FindRunningNumber(const DayLogName& name) {
  int missing = 0;
  while (missing < kDayLogNumberLimit && Exists(name.Path(missing))) ++missing;
  const int number = missing > 0 ? missing - 1 : 0;
  return ReachedRollOver(name.Path(number)) ? number + 1 : number;
}

}  // namespace station
