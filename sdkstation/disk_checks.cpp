#include "sdkstation/disk_checks.h"

#include <cmath>

#include "bridge/block_commands.h"
#include "disk/disk_rescan.h"
#include "station/capacity_checks.h"

namespace sdkstation {

int QV_RescanDisk(platform::CriticalSection& rescanLock) {
  return disk::RunDiskpartRescan(rescanLock, kRescanEnterTrace, kRescanExitTrace);
}

int IsCapacityWithinTolerance(const StationOptions& options, uint64_t capacityMB, int32_t expectedGB) {
  const float gigabytes = static_cast<float>(capacityMB) / 1024.0f;
  if (!(gigabytes > 0.0f)) return 0;
  // In double: a difference beyond any integer type is refused, never cut.
  const double difference = std::trunc(std::fabs(static_cast<double>(gigabytes) - expectedGB));
  return difference / gigabytes * 100.0 < options.EnCapacityErrorRange ? 1 : 0;
}

int CheckFreeSpaceRange(const char* devicePath, int64_t expected, int64_t deviation) {
  return station::IsFreeSpaceInRange(bridge::GetDriveFreeSpace(devicePath), expected,
                                     deviation < 0 ? 0 : deviation);
}

}  // namespace sdkstation
