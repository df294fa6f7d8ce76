// The second program's own versions of three disk helpers of the first: the
// re-scan under its own lock and with its own traces, the capacity check
// with the tolerance of the settings, and the free-space window without a
// switch of its own (its callers test EnFreeSpaceCheck first).
#pragma once

#include <cstdint>

#include "platform/critical_section.h"
#include "sdkstation/sdk_settings_block.h"

namespace sdkstation {

inline constexpr char kRescanEnterTrace[] = "RD Debug: QV_RescanDisk enter";
inline constexpr char kRescanExitTrace[] = "RD Debug: QV_RescanDisk exit";

// The partitioning tool's re-scan with `rescanLock` (the window's
// RescanLock, used by nothing else) held across each run of the tool.
// 1 / 0 as disk::RunDiskpartRescan.
[[nodiscard]] int QV_RescanDisk(platform::CriticalSection& rescanLock);

// 1 when a disk of `capacityMB` lies within the options' tolerance
// (EnCapacityErrorRange, percent) of `expectedGB`: the whole-number
// difference of the capacity in GB and the expectation, over the capacity.
// A capacity of 0 matches nothing; a difference of any size is refused.
[[nodiscard]] int IsCapacityWithinTolerance(const StationOptions& options, uint64_t capacityMB, int32_t expectedGB);

// 1 when free - deviation <= expected <= free + deviation over the free
// bytes of the device's volumes, computed without overflow; a negative
// deviation counts as 0.
[[nodiscard]] int CheckFreeSpaceRange(const char* devicePath, int64_t expected, int64_t deviation);

}  // namespace sdkstation
