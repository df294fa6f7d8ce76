// The device library's picture of what is attached, as EnumUSBDevice asks
// for it: one QV_GetDeviceList, then one pass of queries per listed device
// into its SdkPortRecord. The window's controls are the caller's.
#pragma once

#include <cstdint>

#include "sdkstation/device_sdk.h"
#include "sdkstation/sdk_port_table.h"

namespace sdkstation {

struct DeviceListing {
  int count = 0;                // attached devices, 0..16
  bool statusesCleared = false;  // the count changed: every record's statuses went to 0
  // The lowest speed code among the speed queries that answered; USB 2.0
  // when none answered.
  int32_t lowestSpeed = qvfw::kSpeedGen2;
  // `expectedFreeSpace` was 0 and took a device's free space.
  bool freeSpaceLearned = false;
  // More bridges are attached than the list holds (the library's answer).
  bool overfull = false;
};

// Empties and refills `list`. A count other than `attachedCount` clears the
// result and the step statuses of all 16 records and becomes the new
// `attachedCount`. Each listed device's record has its identity and query
// fields cleared, then filled from its queries (a failing one leaves its
// field cleared). While `expectedFreeSpace` is 0 it takes the free space of
// the device in hand, so the first listed device with a volume sets it.
DeviceListing ListAttachedDevices(DeviceList& list, SdkPortTable& ports, int32_t& attachedCount,
                                  int64_t& expectedFreeSpace);

}  // namespace sdkstation
