// The identity every attached device gets for the next pass, handed to the
// device library field by field (its CustomizedSettingTable entry for the
// device's path), after the table was emptied.
#pragma once

#include <cstdint>
#include <string>

#include "sdkstation/device_sdk.h"
#include "sdkstation/sdk_pass_state.h"

namespace sdkstation {

// The window's identity controls at the moment of the hand-over.
struct IdentityControls {
  bool updateVid = false;
  bool updatePid = false;
  bool updateManufString = false;
  bool updateUsbProdString = false;
  bool updateDeviceString = false;
  std::string vendorId;
  std::string productId;
  std::string serialNumber;
  std::string vendorStr;
  std::string prodStr;
  std::string stringB;
  std::string stringC;
  bool manuProdCtl = false;
  bool inquiryCtl = false;
  bool mapToHddName = false;
  // StrBFromDiskSNChk visible and checked: the product string is the
  // device's own disk serial number.
  bool productFromDiskSerial = false;
  bool autoIncrement = false;
  int32_t standbyTimer = 0;
  bool qvs871StandbyTime = false;
  bool multiSector = false;
};

// For each of the first `count` devices of `list`: the enable and set calls
// of its series, each made only while the ones before it succeeded.
// state.m_UpdateSN[i] takes the working serial once QV_SetSerialNumStr
// accepted it, else keeps what it held; state.identityHandedOver[i] says
// whether every call succeeded. The working serial (cut to its 80-byte field)
// advances after every device when autoIncrement is set, whatever that
// device's outcome, so a failing device shifts no other device's number.
void HandOverIdentity(const DeviceList& list, int count, const IdentityControls& controls, SdkPassState& state);

// The serial number of the device's own disk (IDENTIFY words 10-19, byte
// pairs swapped, trailing blanks removed); empty when it cannot be read.
std::string DiskSerialText(const char* devicePath);

}  // namespace sdkstation
