// What the detail window shows about one port: partly the port's record,
// partly asked from the device again. While a pass or a safe removal runs
// the workers own the devices, so nothing is asked then: the record alone.
#pragma once

#include <string>
#include <string_view>

#include "bridge/chip_identification.h"
#include "bridge/flash_detection.h"
#include "bridge/port_table.h"

namespace station {

// The thirteen fields, in the window's order.
struct DeviceDetails {
  std::string chipId;
  std::string diskName;
  std::string manufacturer;
  std::string serialNumber;
  std::string product;
  std::string vendorId;
  std::string productId;
  std::string driveLetter;
  std::string capacity;
  std::string firmwareVersion;
  std::string flashType;
  std::string diskFirmware;
  std::string deviceType;
  // Off while a QVS87x product (ChipType 21-24) is present.
  bool diskFirmwareEnabled = true;
};

// "QV41" and the model digits ("QV41No" for ChipType 0), or the series name
// of ChipTypes 13 and 19; ChipType 20 is named by `configBlock` (its first
// 32 bytes; null when it could not be read).
std::string ChipIdText(bridge::ChipType chipType, const uint8_t* configBlock);

// The vendor of the SPI flash part, "Unknown" for a type without one.
std::string_view SpiFlashVendor(bridge::SpiFlashType type);

// INQUIRY vendor (bytes 8-15) and product (bytes 16-31), each as text of
// exactly its own bytes with trailing blanks removed, joined by one blank.
std::string DiskNameText(const uint8_t* inquiry);

// Port `slot` (0-based) of `ports`, with `driveLetter` as found for it.
DeviceDetails CollectDeviceDetails(const bridge::PortTable& ports, int slot, char driveLetter, bool askDevice);

}  // namespace station
