// The capacity and free-space checks of the device list and the worker.
#pragma once

#include <cstdint>

#include "station/settings_block.h"

namespace station {

// 1 when a drive of `capacityMB` is near enough to a nominal size of
// `expectedGB`: the capacity is scaled to decimal gigabytes (x 0.00105) and
// the whole-number difference must be under a tenth of it. A capacity of 0
// (or below) matches nothing.
[[nodiscard]] int IsWithinTenPercent(int32_t capacityMB, int32_t expectedGB);

// 1 when free - deviation <= expected <= free + deviation, computed without
// overflow.
[[nodiscard]] int IsFreeSpaceInRange(uint64_t freeBytes, int64_t expected, int64_t deviation);

// 1 when the free-space check is off, else IsFreeSpaceInRange over the free
// bytes of the device's volumes.
[[nodiscard]] int CheckFreeSpaceRange(const StationOptions& options, const char* devicePath,
                                      int64_t expected, int64_t deviation);

}  // namespace station
