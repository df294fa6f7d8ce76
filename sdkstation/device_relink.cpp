#include "sdkstation/device_relink.h"

#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/debug.h"
#include "sdkstation/device_sdk.h"

namespace sdkstation {
namespace {

constexpr uint32_t kStepMs = 500;
constexpr int kActivationTries = 20;
constexpr int kMeetingLimit = 60;
constexpr int kFirmwareMeetingLimit = 200;

using Text = std::array<char, qvfw::kTextCapacity + 1>;
using PathText = std::array<char, qvfw::kPathCapacity + 1>;

// Where a device is plugged in.
struct HubLocation {
  bool known = false;
  int port = -2;
  PathText rootHub{};

  bool operator==(const HubLocation& other) const {
    return known && other.known && port == other.port && std::strcmp(rootHub.data(), other.rootHub.data()) == 0;
  }
};

HubLocation ReadHubLocation(const char* path) {
  const DeviceSdkTable& sdk = DeviceSdk();
  HubLocation at;
  at.known = sdk.QV_GetHubPortIndex(path, &at.port) != 0 && sdk.QV_GetRootHubName(path, at.rootHub.data()) != 0;
  return at;
}

std::string SerialOf(const char* path, bool qvs87x) {
  const DeviceSdkTable& sdk = DeviceSdk();
  Text serial{};
  const int ok = qvs87x ? sdk.QV_GetSNfromOS(path, serial.data()) : sdk.QV_GetSNfromFlash(path, serial.data());
  return ok ? std::string(serial.data()) : std::string();
}

// A listed path another port took in this pass is not this port's device.
bool TakenByOther(const RelinkContext& c, const char* path) {
  for (int p = 0; p < kSdkPortCount; ++p)
    if (p != c.port && c.meeting.claimed[static_cast<size_t>(p)] == path) return true;
  return false;
}

void Take(const RelinkContext& c, const char* path) {
  std::strncpy(c.record().devicePath, path, kSdkPathSize - 1);
  c.record().devicePath[kSdkPathSize - 1] = '\0';
  c.meeting.claimed[static_cast<size_t>(c.port)] = path;
}

// One scan of the library's list under RefindLock; `pick` chooses among the
// listed paths no other port took, or answers -1.
template <class Pick>
bool ScanOnce(const RelinkContext& c, Pick pick) {
  DeviceList list;
  std::lock_guard lock(c.locks.RefindLock);
  int count = -1;
  if (DeviceSdk().QV_GetDeviceList(list.buffers(), &count) == 0) count = 0;
  std::vector<const char*> free;
  for (int i = 0; i < ClampDeviceCount(count); ++i)
    if (list[i][0] != '\0' && !TakenByOther(c, list[i])) free.push_back(list[i]);
  const int chosen = pick(free, count);
  if (chosen < 0) return false;
  Take(c, free[static_cast<size_t>(chosen)]);
  return true;
}

// Up to MPResetWait scans, 500 ms before and after each.
template <class Pick>
bool Search(const RelinkContext& c, Pick pick) {
  for (int attempt = 0; attempt < c.settings.MPResetWait; ++attempt) {
    platform::Sleep(kStepMs);
    const bool found = ScanOnce(c, pick);
    platform::Sleep(kStepMs);
    if (found) return true;
  }
  return false;
}

bool SearchByHub(const RelinkContext& c, const HubLocation& at) {
  if (!at.known) return false;
  return Search(c, [&at](const std::vector<const char*>& paths, int) {
    for (size_t i = 0; i < paths.size(); ++i)
      if (ReadHubLocation(paths[i]) == at) return static_cast<int>(i);
    return -1;
  });
}

bool PointTable(int tableIndex, const char* path) {
  return tableIndex < 0 || DeviceSdk().QV_SetDevicePath(tableIndex, path) != 0;
}

// The reset of the stage; true when an attempt succeeded.
bool Reset(const char* path, int stage) {
  const DeviceSdkTable& sdk = DeviceSdk();
  const int tries = stage == kStageFirmware ? kActivationTries : 1;
  for (int i = 0; i < tries; ++i) {
    if (i > 0) platform::Sleep(kStepMs);
    const int ok = stage == kStageFirmware ? sdk.QV_ActiveFirmware(path) : sdk.QV_ChipReset(path);
    if (ok) {
      platform::Sleep(kStepMs);
      return true;
    }
  }
  return false;
}

// Counts the stage whatever came before, then meets the others.
void CountAndMeet(const RelinkContext& c, int stage, bool failed) {
  c.stages.Count(stage);
  if (!failed) MeetAtStage(c.meeting, stage, stage == kStageFirmware ? kFirmwareMeetingLimit : kMeetingLimit);
}

}  // namespace

bool CanRefindByHub(const char* path, const SdkSettingsBlock& settings) {
  return settings.MPResetWait > 0 && ReadHubLocation(path).known;
}

bool RefindDevice(const RelinkContext& c, int tableIndex) {
  platform::Sleep(kStepMs);
  HubLocation at;
  at.known = true;
  at.port = c.record().hubPort;
  std::strncpy(at.rootHub.data(), c.record().rootHubName, qvfw::kPathCapacity);
  return SearchByHub(c, at) && PointTable(tableIndex, c.record().devicePath);
}

bool ResetAndRefindDevice(const RelinkContext& c, int stage) {
  const std::string path = c.record().devicePath;
  platform::Sleep(kStepMs);
  // A device without a setting-table entry is found again all the same.
  const int tableIndex = DeviceSdk().QV_GetCustomizedSettingTableIndex(path.c_str());
  const HubLocation at = ReadHubLocation(path.c_str());
  bool failed = !at.known;
  if (!failed) failed = !Reset(path.c_str(), stage);
  CountAndMeet(c, stage, failed);
  if (failed) return false;
  return SearchByHub(c, at) && PointTable(tableIndex, c.record().devicePath);
}

bool QV_RelinkEx(const RelinkContext& c, int stage, bool byNewSerial) {
  const std::string path = c.record().devicePath;
  platform::DebugTrace("%s", kRelinkEnterTrace);
  platform::Sleep(kStepMs);
  bool failed = false;
  // No entry is no failure: a relink after a firmware-only, erase-only or
  // UFS step follows no identity hand-over, and its product is good.
  const int tableIndex = DeviceSdk().QV_GetCustomizedSettingTableIndex(path.c_str());
  if (tableIndex == -1) platform::DebugTrace("%s", kNoTableIndexTrace);
  std::string key = byNewSerial ? std::string(c.updateSerial) : std::string();
  if (!byNewSerial) {
    key = SerialOf(path.c_str(), c.record().qvs87x != 0);
    if (key.empty()) platform::DebugTrace("RD Debug: Get SN Failed, DevicePath=%s", path.c_str());
  }
  // A key of nothing would take any product: no reset without a key.
  if (key.empty()) failed = true;
  // Before the reset: where the device is, to tell identical serials apart.
  const HubLocation at = ReadHubLocation(path.c_str());
  if (!failed && !Reset(path.c_str(), stage)) {
    platform::DebugTrace(stage == kStageFirmware ? "RD Debug: ActiveFirmware Failed" : "RD Debug: ChipReset Failed");
    failed = true;
  }
  CountAndMeet(c, stage, failed);

  if (!failed) {
    const bool found = Search(c, [&](const std::vector<const char*>& paths, int count) {
      platform::DebugTrace("RD Debug: nDevCount=%d", count);
      const DeviceSdkTable& sdk = DeviceSdk();
      int chosen = -1;
      int matches = 0;
      for (size_t i = 0; i < paths.size(); ++i) {
        const std::string serial = SerialOf(paths[i], sdk.QV_IsQVS87xSeries(paths[i]) != 0);
        platform::DebugTrace("RD Debug: m_UpdateSN[%d]=%s, serialNumber=%s", c.port, c.updateSerial, serial.c_str());
        if (!serial.starts_with(key)) continue;
        platform::DebugTrace("RD Debug: DevFoundCounter=%d", ++matches);
        if (chosen < 0 || ReadHubLocation(paths[i]) == at) chosen = static_cast<int>(i);
      }
      return chosen;
    });
    failed = !found;
  }
  if (!failed && !PointTable(tableIndex, c.record().devicePath)) {
    platform::DebugTrace("RD Debug: pQV_SetDevicePath Failed, CustomizedSettingTableIndex=%d, MAX_DISK_COUNT=%d",
                         tableIndex, qvfw::kSettingTableCapacity);
    failed = true;
  }
  platform::DebugTrace("RD Debug: QV_RelinkEx exit(bFail=%d)", failed ? 1 : 0);
  return !failed;
}

}  // namespace sdkstation
