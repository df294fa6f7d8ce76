#include "sdkstation/device_listing.h"

#include <cstring>
#include <string_view>

#include "bridge/block_commands.h"

namespace sdkstation {

DeviceListing ListAttachedDevices(DeviceList& list, SdkPortTable& ports, int32_t& attachedCount,
                                  int64_t& expectedFreeSpace) {
  const DeviceSdkTable& sdk = DeviceSdk();
  DeviceListing listing;
  list.Clear();
  int count = 0;
  listing.overfull = sdk.QV_GetDeviceList(list.buffers(), &count) == qvfw::kListOverfull;
  listing.count = ClampDeviceCount(count);
  if (listing.count != attachedCount) {
    for (SdkPortRecord& record : ports) record.ClearStatuses();
    listing.statusesCleared = true;
    attachedCount = listing.count;
  }

  bool anySpeed = false;
  for (int i = 0; i < listing.count; ++i) {
    SdkPortRecord& r = ports[static_cast<size_t>(i)];
    r.ClearIdentity();
    bridge::SetFieldText(r.devicePath, std::string_view(list[i], ::strnlen(list[i], qvfw::kPathCapacity)));
    const char* path = r.devicePath;

    static_cast<void>(sdk.QV_GetDiskCapacity(path, &r.capacityMB));
    const uint64_t free = bridge::GetDriveFreeSpace(path);
    r.freeBytes = free;
    if (expectedFreeSpace == 0 && free != 0) {
      expectedFreeSpace = static_cast<int64_t>(free);
      listing.freeSpaceLearned = true;
    }
    if (sdk.QV_GetUSBSpeed(path, &r.usbSpeed) != 0) {
      if (!anySpeed || r.usbSpeed < listing.lowestSpeed) listing.lowestSpeed = r.usbSpeed;
      anySpeed = true;
    }
    static_cast<void>(sdk.QV_GetChipType(path, &r.chipType));
    static_cast<void>(sdk.QV_GetRunningCodeMode(path, &r.RunningCodeMode));
    if (r.RunningCodeMode == qvfw::kModeInternalCode) bridge::SetFieldText(r.firmwareText, kInternalCodeText);
    else if (r.RunningCodeMode == qvfw::kModeFirmware) static_cast<void>(sdk.QV_GetFWVersion(path, r.firmwareText));
    else bridge::SetFieldText(r.firmwareText, kUnknownFirmwareText);
    static_cast<void>(sdk.QV_GetHubPortIndex(path, &r.hubPort));
    static_cast<void>(sdk.QV_GetRootHubName(path, r.rootHubName));
    static_cast<void>(sdk.QV_GetSNfromOS(path, r.systemSerial));
    static_cast<void>(sdk.QV_GetVIDfromOS(path, &r.vid));
    static_cast<void>(sdk.QV_GetPIDfromOS(path, &r.pid));
    r.uasp = sdk.QV_IsUASPdevice(path);
    r.qvs87x = sdk.QV_IsQVS87xSeries(path);
  }
  // Not one speed known: nothing shows that the products run faster.
  if (!anySpeed) listing.lowestSpeed = qvfw::kSpeedUsb2;
  return listing;
}

}  // namespace sdkstation
