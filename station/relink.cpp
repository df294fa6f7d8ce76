#include "station/relink.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/block_commands.h"
#include "bridge/chip_identification.h"
#include "bridge/device_queries.h"
#include "bridge/storage_enumeration.h"
#include "bridge/usb_tree.h"
#include "bridge/vendor_commands.h"
#include "disk/device_lock.h"
#include "platform/clock.h"
#include "platform/debug.h"

namespace station {
namespace {

constexpr uint32_t kResetSettleMs = 500;
constexpr uint32_t kRefindIntervalMs = 1000;
constexpr uint32_t kMeetingPollMs = 500;

void SendReset(const char* devicePath, ResetKind reset) {
  // The bridge may leave the bus before it answers: the answer says nothing.
  if (reset == ResetKind::Bridge) {
    (void)bridge::ResetBridge(devicePath);
  } else {
    (void)bridge::ScsiWriteBuffer(devicePath, bridge::BufferId{0}, bridge::kWriteBufferActivateMode,
                                  0, nullptr, 0);
  }
}

}  // namespace

int RelinkFindDevice(PassState& pass, bridge::PortRecord& record, int32_t /*typeC*/) {
  // The port's ids and strings go to a table of this re-find's own first:
  // the record takes them together with the path and version below, in one
  // piece, so the window never shows a new serial beside an old firmware.
  const auto staged = std::make_unique<bridge::PortTable>();
  bridge::PortRecord scratch;
  const std::string hubName(bridge::FieldText(record.hubName));
  (void)bridge::GetOnePortData(*staged, hubName.c_str(), static_cast<uint32_t>(record.hubPort), scratch,
                               record.walkIndex);
  const bridge::PortRecord* described = staged->slot(record.walkIndex);

  int count = bridge::kMaxStorageEntries;
  if (!bridge::EnumerateStorageDevices(pass.storageEntries.data(), &count)) count = 0;
  pass.storageEntryCount = count;
  if (count == 0 || !scratch.inUse) {
    record.foundAgain = 0;
    return 0;  // nothing to look for on that port, whatever else is attached
  }

  // Matching is a string compare: no pause per interface inside the device
  // lock that every worker waits on; the tries are paced outside it.
  const int match = bridge::FindStorageEntryOfPort(scratch, pass.storageEntries.data(), count);
  if (match < 0) {
    record.foundAgain = 0;
    return count;
  }
  const bridge::StorageDeviceEntry& entry = pass.storageEntries[static_cast<size_t>(match)];
  const std::string path(bridge::FieldText(entry.detail.DevicePath));
  const bridge::ChipType chipType = bridge::IdentifyChipType(path.c_str());
  const uint64_t capacity = bridge::GetDiskCapacityMB(path.c_str(), chipType);
  char version[bridge::kFirmwareVersionSize] = {};
  (void)bridge::FormatFirmwareVersion(chipType, path.c_str(), version);
  const int32_t accepted = bridge::CheckFirmwareVersion(path.c_str(), chipType, version);
  {
    // The window builds its rows from these while this worker runs.
    std::lock_guard lock(record.identityLock);
    if (described != nullptr) {
      record.vid = described->vid;
      record.pid = described->pid;
      std::memcpy(record.manufacturer, described->manufacturer, sizeof record.manufacturer);
      std::memcpy(record.product, described->product, sizeof record.product);
      std::memcpy(record.usbSerial, described->usbSerial, sizeof record.usbSerial);
    }
    bridge::SetFieldText(record.devicePath, path);
    // The port read keeps the id lower-cased, as matching wants it.
    bridge::SetFieldText(record.instanceId, bridge::FieldText(scratch.instanceId));
    bridge::SetFieldText(record.driverKey, bridge::FieldText(scratch.driverKey));
    record.deviceInstance = entry.devInst;
    record.parentInstance = entry.parentDevInst;
    record.chipType = chipType;
    record.capacityMB = static_cast<int32_t>(std::min<uint64_t>(capacity, INT32_MAX));
    bridge::SetFieldText(record.firmwareVersion, bridge::FieldText(version));
    record.firmwareAccepted = accepted;
  }
  // The old volume went with the reset; the steps after it search again.
  record.driveLetter = 0;
  record.letterFound = 0;
  record.foundAgain = chipType != 0 ? 1 : 0;
  return count;
}

bool RelinkAfterReset(PassState& pass, bridge::PortRecord& record, ResetKind reset,
                      int32_t resetWait, int32_t typeC, int& failFlag) {
  {
    disk::DeviceLockHolder lock(disk::DeviceLock());
    pass.RelinkIdleCount.fetch_sub(1);
    SendReset(record.devicePath, reset);
    platform::Sleep(kResetSettleMs);
  }
  const int32_t tries = std::max<int32_t>(resetWait, 1);
  record.foundAgain = 0;
  for (int32_t tried = 0; tried < tries && record.foundAgain != 1;) {
    platform::Sleep(kRefindIntervalMs);
    {
      disk::DeviceLockHolder lock(disk::DeviceLock());
      (void)RelinkFindDevice(pass, record, typeC);
    }
    ++tried;
  }
  const bool found = record.foundAgain == 1;
  if (!found) {
    failFlag = 1;
    platform::DebugTrace("Port %d: not found again after the reset\n", record.hubPort);
  }
  {
    disk::DeviceLockHolder lock(disk::DeviceLock());
    pass.RelinkIdleCount.fetch_add(1);
  }
  while (pass.RelinkIdleCount.load() != pass.PresentDeviceCount.load()) {
    platform::Sleep(kMeetingPollMs);
  }
  return found;
}

}  // namespace station
