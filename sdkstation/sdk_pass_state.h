// What the second program's main window shares with its port workers: the
// seven locks around the device library's long operations, the port table,
// the station options, and what the identity hand-over left per device.
// The window writes the hand-over results before any worker starts; a
// worker reads its own port's only.
#pragma once

#include <array>
#include <cstdint>

#include "platform/critical_section.h"
#include "sdkstation/sdk_port_table.h"
#include "sdkstation/sdk_settings_block.h"

namespace sdkstation {

// In the order the main window makes them.
struct SdkLocks {
  platform::CriticalSection RescanLock;           // the disk re-scan, nothing else
  platform::CriticalSection RWTestLock;           // QV_DiskRWTest
  platform::CriticalSection RefindLock;           // each device-list scan of a re-find
  platform::CriticalSection RelinkStageLock;      // the increments of RelinkStageCount
  platform::CriticalSection FirmwareProgramLock;  // the firmware writes
  platform::CriticalSection PartitionLock;        // QV_DiskPartition
  platform::CriticalSection FormatLock;           // QV_DiskFormat
};

inline constexpr size_t kUpdateSnSize = 80;

struct SdkPassState {
  SdkPortTable ports;
  StationOptions options;
  // The serial number each device was given by a hand-over; a device whose
  // QV_SetSerialNumStr failed or was not reached keeps its earlier one.
  std::array<std::array<char, kUpdateSnSize>, kSdkPortCount> m_UpdateSN{};
  // 1 when every identity call of the last hand-over succeeded for that
  // device: a 0 fails its identity step.
  std::array<int32_t, kSdkPortCount> identityHandedOver{};
  // The yield of an earlier pass did not reach its file: the next pass
  // stores it before it starts anything, or does not start.
  bool yieldUnkept = false;
  // The number after the last result log row of this session. A device
  // stopped at the maximum serial has a row but no count, so the yield alone
  // would give its number again.
  int32_t nextLogNumber = 0;
};

}  // namespace sdkstation
