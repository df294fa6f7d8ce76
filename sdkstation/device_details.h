// What the second program's detail window shows about one listed device:
// partly its record, partly asked from the device library again. While a
// pass or a safe removal runs, workers own the devices (a query could land
// in the middle of a firmware write), so only the record is shown then.
#pragma once

#include <string>

#include "sdkstation/sdk_port_table.h"

namespace sdkstation {

// The thirteen fields, one per setter of the window.
struct SdkDeviceDetails {
  std::string chipId;
  std::string deviceType;
  std::string diskLetter;
  std::string diskName;
  std::string fwVer;
  std::string hdCap;  // the number only; the window appends " MB"
  std::string hddFwRev;
  std::string manufacture;
  std::string productId;
  std::string serialNumber;
  std::string flashType;
  std::string usbProduct;
  std::string vendorId;
  // Off for a QVS87x device.
  bool hddFwRevEnabled = true;
};

// INQUIRY vendor (bytes 8-15) and product (bytes 16-31), each trimmed,
// joined by one space.
std::string InquiryDiskName(const uint8_t* inquiry);

// Every library text is read within the buffer it was given, whether or
// not the library ended it with a NUL.
SdkDeviceDetails CollectSdkDeviceDetails(const SdkPortRecord& record, bool askDevice);

}  // namespace sdkstation
