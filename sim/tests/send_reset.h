// The bridge reset as the station sends it, through the platform layer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/device_io.h"

namespace sim::testing {

// FF 04 26 "QV": the bridge resets and leaves the bus for its delay.
inline bool SendReset(const std::string& path) {
  using namespace platform;
  ScopedDevice device(path.c_str(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  ScsiPassThroughDirect r{};
  r.Length = kScsiPassThroughDirectLength;
  r.CdbLength = 12;
  r.DataIn = kScsiDataIn;
  r.TimeOutValue = 10;
  const uint8_t reset[] = {0xFF, 0x04, 0x26, 0x51, 0x56};
  std::memcpy(r.Cdb, reset, sizeof reset);
  uint32_t returned = 0;
  return DeviceIoControl(device.get(), kIoctlScsiPassThroughDirect, &r, sizeof r, &r, sizeof r, &returned);
}

}  // namespace sim::testing
