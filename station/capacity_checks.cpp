#include "station/capacity_checks.h"

#include "bridge/block_commands.h"
#include "station/step_helpers.h"

namespace station {

int IsWithinTenPercent(int32_t capacityMB, int32_t expectedGB) {
  const float scaled = static_cast<float>(capacityMB) * 0.00105f;
  if (!(scaled > 0.0f)) return 0;
  const float difference = scaled - static_cast<float>(expectedGB);
  // A difference beyond int's range is far outside a tenth of any capacity
  // an int of MB can hold.
  if (!(difference > -2147483648.0f && difference < 2147483648.0f)) return 0;
  const int whole = AbsValue(static_cast<int>(difference));
  return static_cast<float>(whole) / scaled < 0.1f ? 1 : 0;
}

// Wide enough for a 64-bit count plus or minus a 64-bit deviation.
__extension__ typedef __int128 WideCount;

int IsFreeSpaceInRange(uint64_t freeBytes, int64_t expected, int64_t deviation) {
  const WideCount free = freeBytes;
  return free - deviation <= expected && expected <= free + deviation ? 1 : 0;
}

int CheckFreeSpaceRange(const StationOptions& options, const char* devicePath, int64_t expected,
                        int64_t deviation) {
  if (!options.FreeSpaceCheck) return 1;
  return IsFreeSpaceInRange(bridge::GetDriveFreeSpace(devicePath), expected, deviation);
}

}  // namespace station
