// What the second program knows of each attached device: one SdkPortRecord
// per entry of the device library's list, in the library's order (not hub
// order). The listing writes the identity and query fields; a port's worker
// writes its statuses and measurements while the window reads them, so
// those are bridge::SharedWords.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/port_table.h"
#include "qvfw/qvfw_api.h"

namespace sdkstation {

using bridge::SharedWord;

inline constexpr int kSdkPortCount = qvfw::kMaxDevices;
inline constexpr size_t kSdkTextSize = 80;
inline constexpr size_t kSdkPathSize = qvfw::kPathCapacity;
inline constexpr size_t kSdkLetterSize = qvfw::kLetterCapacity;

// Texts of the firmware field by running mode.
inline constexpr char kInternalCodeText[] = "InCode";
inline constexpr char kUnknownFirmwareText[] = "--";

struct SdkPortRecord {
  int32_t hubPort = 0;
  char rootHubName[kSdkPathSize] = {};
  char devicePath[kSdkPathSize] = {};
  char systemSerial[kSdkTextSize] = {};
  char firmwareText[kSdkTextSize] = {};
  uint16_t vid = 0;
  uint16_t pid = 0;
  int32_t chipType = 0;
  int32_t RunningCodeMode = 0;
  SharedWord<int32_t> partitionStatus;
  SharedWord<int32_t> formatStatus;
  SharedWord<int32_t> readWriteStatus;
  SharedWord<int32_t> identityStatus;
  SharedWord<int32_t> firmwareStatus;
  SharedWord<int32_t> relinkStatus;
  SharedWord<int32_t> softwareCopyStatus;
  SharedWord<int32_t> firmwareCheckStatus;
  SharedWord<int32_t> folderCompareStatus;
  SharedWord<int32_t> usbSpeedCheckStatus;
  SharedWord<int32_t> verifyStatus;
  SharedWord<int32_t> verifyFlags;
  SharedWord<int32_t> result;  // 0 running, 1 pass, -1 fail
  SharedWord<int32_t> ufsWriteProtect;
  SharedWord<int32_t> ufsEnabled;
  char driveLetter[kSdkLetterSize] = {};
  uint64_t capacityMB = 0;
  SharedWord<uint64_t> freeBytes;
  SharedWord<float> readSpeed;   // MB/s, speed factor applied
  SharedWord<float> writeSpeed;
  SharedWord<int32_t> finalResult;  // copy of result, consumed by the yield count
  SharedWord<int32_t> progress;     // percent
  int32_t uasp = 0;
  int32_t qvs87x = 0;
  int32_t usbSpeed = 0;  // 4 USB 3.1 Gen 2, 3 Gen 1, lower USB 2.0

  // The result and the eleven step statuses back to 0.
  void ClearStatuses();
  // Every field the listing writes back to zero, before it queries again:
  // a query that fails must not leave another product's value behind.
  void ClearIdentity();
};

using SdkPortTable = std::array<SdkPortRecord, kSdkPortCount>;

// The attached-device count bounded to what the table holds.
[[nodiscard]] int ClampDeviceCount(int count);

// The device paths the first `count` records hold now: after a relink the
// paths the devices came back under, not the listing's.
std::vector<std::string> DevicePaths(const SdkPortTable& ports, int count);

// Whether any of the first `count` records is of the QVS87x series.
bool AnyQVS87xDevice(const SdkPortTable& ports, int count);
// Whether any of records 1 .. count-1 has a chip type other than record 0's.
bool ChipTypesDiffer(const SdkPortTable& ports, int count);

}  // namespace sdkstation
