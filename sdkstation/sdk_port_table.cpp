#include "sdkstation/sdk_port_table.h"

#include <algorithm>

namespace sdkstation {

void SdkPortRecord::ClearStatuses() {
  for (SharedWord<int32_t>* status :
       {&result, &firmwareStatus, &identityStatus, &verifyStatus, &usbSpeedCheckStatus, &firmwareCheckStatus,
        &relinkStatus, &partitionStatus, &formatStatus, &readWriteStatus, &softwareCopyStatus,
        &folderCompareStatus})
    *status = 0;
}

void SdkPortRecord::ClearIdentity() {
  hubPort = 0;
  std::fill(std::begin(rootHubName), std::end(rootHubName), '\0');
  std::fill(std::begin(devicePath), std::end(devicePath), '\0');
  std::fill(std::begin(systemSerial), std::end(systemSerial), '\0');
  std::fill(std::begin(firmwareText), std::end(firmwareText), '\0');
  vid = 0;
  pid = 0;
  chipType = 0;
  RunningCodeMode = 0;
  capacityMB = 0;
  freeBytes = 0;
  uasp = 0;
  qvs87x = 0;
  usbSpeed = 0;
}

int ClampDeviceCount(int count) { return std::clamp(count, 0, kSdkPortCount); }

std::vector<std::string> DevicePaths(const SdkPortTable& ports, int count) {
  std::vector<std::string> paths;
  for (int i = 0; i < ClampDeviceCount(count); ++i) paths.emplace_back(ports[static_cast<size_t>(i)].devicePath);
  return paths;
}

bool AnyQVS87xDevice(const SdkPortTable& ports, int count) {
  return std::any_of(ports.begin(), ports.begin() + ClampDeviceCount(count),
                     [](const SdkPortRecord& r) { return r.qvs87x != 0; });
}

bool ChipTypesDiffer(const SdkPortTable& ports, int count) {
  const int n = ClampDeviceCount(count);
  return n > 1 && std::any_of(ports.begin() + 1, ports.begin() + n,
                              [&](const SdkPortRecord& r) { return r.chipType != ports[0].chipType; });
}

}  // namespace sdkstation
