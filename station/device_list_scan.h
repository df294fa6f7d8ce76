// The device side of the device list refresh: enumerate, identify the chip
// of every port, read capacity, free space, speed, flash type and firmware
// version, derive the device mix, and drive the Type-C power switch. The
// window then fits its controls to the result.
#pragma once

#include <cstdint>
#include <string_view>

#include "bridge/port_table.h"
#include "station/device_mix.h"
#include "station/pass_state.h"
#include "station/settings_block.h"

namespace station {

struct DeviceScan {
  int entryCount = 0;   // storage interfaces found
  int deviceCount = 0;  // present ports
  int qvs646Count = 0;
  int otherCount = 0;
  bool controlDeviceSeen = false;  // the Type-C power switch
  bool capacityFits = true;
  bool allSuperSpeed = true;  // every USB 3 family port at SuperSpeed or faster
  bool allSuperSpeedPlus = true;
  bool anyQvs87x = false;
  bool anyChipType26 = false;
};

// What the scan reads from the window besides the settings.
struct ScanControls {
  bool cloneProduct = false;          // no capacity check for CLONE products
  std::string_view userCapacity;      // the typed user-defined capacity
};

// Scans into pass.ports and pass.storageEntries. A port counts (chip mask,
// mix row, first identification) only when it is present: a chip the
// station does not drive, or a USB 3 bridge with USB 3 switched off, is
// left out of all of it. `eppDevice` is the walk's record of the power
// switch, kept between walks.
DeviceScan ScanDevices(PassState& pass, bridge::EppDeviceRecord& eppDevice, DeviceMix& mix,
                       SettingsBlock& settings, const ScanControls& controls);

}  // namespace station
