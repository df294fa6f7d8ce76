#include "station/device_list_scan.h"

#include "bridge/block_commands.h"
#include "bridge/chip_identification.h"
#include "bridge/device_queries.h"
#include "bridge/flash_detection.h"
#include "bridge/usb_tree.h"
#include "bridge/vendor_commands.h"
#include "station/bridge_probes.h"
#include "station/capacity_checks.h"
#include "station/device_enumeration.h"
#include "station/epp_power.h"
#include "station/settings_collection.h"

namespace station {
namespace {

constexpr unsigned kEppChipType = 6;
constexpr unsigned kUsb3EnableChipType = 25;
constexpr unsigned kJedecProbeChipType = 27;

constexpr bool HasUsbSpeed(unsigned chip) { return chip == 13 || (chip >= 19 && chip <= 28); }
constexpr bool HasNoSpiFlash(unsigned chip) { return chip == 8 || chip == 17; }
constexpr bool IsQvs819Family(unsigned chip) { return chip == 17 || chip == 18; }

// Nothing attached: no family is present either.
void ClearMix(DeviceMix& mix) {
  mix.AnyQvs646 = false;
  mix.MixedQvs646 = false;
  mix.AnyQvs819Family = false;
  mix.LegacyOnly = false;
  mix.EepromTypeSelectable = false;
  mix.FirmwareUpdateAllowed = false;
  mix.StandbyTimerSupported = false;
  mix.OddSizeSupported = false;
  mix.HddStringMode = false;
  mix.AutoStartReady = false;
}

// Identifies the port's bridge from its storage entry; 0 without one.
unsigned Identify(PassState& pass, bridge::PortRecord& record) {
  const int e = bridge::FindStorageEntryOfPort(record, pass.storageEntries.data(), pass.storageEntryCount);
  if (e < 0) return 0;
  const bridge::StorageDeviceEntry& entry = pass.storageEntries[static_cast<size_t>(e)];
  bridge::SetFieldText(record.devicePath, bridge::DevicePath(entry));
  record.deviceInstance = entry.devInst;
  record.parentInstance = entry.parentDevInst;
  record.uasp = entry.isScsi;
  const unsigned chip = bridge::IdentifyChipType(record.devicePath);
  record.chipType = static_cast<bridge::ChipType>(chip);
  return chip;
}

void ReadPortFacts(bridge::PortRecord& record, unsigned chip, DeviceScan& scan) {
  const char* path = record.devicePath;
  const auto type = static_cast<bridge::ChipType>(chip);
  record.capacityMB = static_cast<int32_t>(bridge::GetDiskCapacityMB(path, type));
  record.freeBytes = static_cast<int64_t>(bridge::GetDriveFreeSpace(path));
  if (HasUsbSpeed(chip)) {
    const int32_t speed = bridge::GetPortSpeed(record.hubName, static_cast<uint32_t>(record.hubPort));
    record.usbSpeed = speed;
    // A failed query (255) is not SuperSpeed.
    scan.allSuperSpeed = scan.allSuperSpeed && bridge::IsSuperSpeed(speed);
    scan.allSuperSpeedPlus = scan.allSuperSpeedPlus && speed == bridge::kUsbSpeedSuperPlus;
  }
  record.spiFlashType = HasNoSpiFlash(chip) ? 255 : static_cast<uint8_t>(bridge::GetSpiFlashType(type, path));
  char version[bridge::kFirmwareVersionSize] = {};
  static_cast<void>(bridge::FormatFirmwareVersion(type, path, version));  // the text stays empty on failure
  bridge::SetFieldText(record.firmwareVersion, version);
  record.firmwareAccepted = bridge::CheckFirmwareVersion(path, type, version);
  if (chip == kJedecProbeChipType) {
    uint8_t id[4];
    static_cast<void>(bridge::ReadFlashJedecId(path, id));  // sent once; the answer is not kept
  }
}

}  // namespace

DeviceScan ScanDevices(PassState& pass, bridge::EppDeviceRecord& eppDevice, DeviceMix& mix,
                       SettingsBlock& settings, const ScanControls& controls) {
  DeviceScan scan;
  StationOptions& options = pass.options;
  scan.entryCount = EnumerateDevices(options.SupportODD, pass.ports, pass.storageEntries.data(),
                                     &pass.storageEntryCount, {.EnEPPTypeC = settings.EnEPPTypeC}, &eppDevice);
  if (scan.entryCount == 0) {
    pass.EppPowered = 0;
    ClearMix(mix);
    pass.PresentDeviceCount = 0;
    return scan;
  }

  StartDeviceMix(mix);
  pass.FirstChipTypeRev &= 0xFF00;
  const bool capacityCheck = settings.Capacity != 0;
  bool anyQvs819 = false;
  for (bridge::PortRecord& record : pass.ports.records) {
    if (!record.inUse) continue;
    unsigned chip = Identify(pass, record);
    // The power switch of the Type-C fixture is not a product.
    if (chip == kEppChipType && settings.EnEPPTypeC) {
      chip = 0;
      record.chipType = 0;
    }
    const bool unsupported =
        chip == 0 || (chip == kUsb3EnableChipType && IsUsb3Enabled(record.devicePath) != 1);
    if (unsupported) {
      record.present = 0;
      continue;
    }
    if ((pass.FirstChipTypeRev & 0xFF) == 0)
      pass.FirstChipTypeRev = bridge::IdentifyChipTypeAndRevision(record.devicePath);
    mix.ChipTypeMask |= uint64_t{1} << chip;
    ApplyChipMixRow(mix, chip, pass.FirstChipTypeRev, options.EEPROMOnly);
    (IsQvs646Family(chip) ? scan.qvs646Count : scan.otherCount) += 1;
    record.present = 1;
    ++scan.deviceCount;
    scan.anyQvs87x = scan.anyQvs87x || IsQvs87x(chip);
    scan.anyChipType26 = scan.anyChipType26 || chip == 26;
    anyQvs819 = anyQvs819 || IsQvs819Family(chip);

    ReadPortFacts(record, chip, scan);
    if (capacityCheck && scan.capacityFits && !controls.cloneProduct) {
      int32_t expected = settings.Capacity;
      if (expected == kUserDefinedCapacity) {
        // A text that is no number checks against 0, which fits nothing.
        settings.CapacityCustomize = NumberOrZero(controls.userCapacity);
        expected = settings.CapacityCustomize;
      }
      scan.capacityFits = IsWithinTenPercent(record.capacityMB, expected) != 0;
    }
    if (settings.FreeSpace == 0) settings.FreeSpace = record.freeBytes;
  }

  if (settings.EnEPPTypeC && eppDevice.inUse) {
    const int e = bridge::FindStorageEntryOfPort(eppDevice, pass.storageEntries.data(), pass.storageEntryCount);
    if (e >= 0) {
      scan.controlDeviceSeen = true;
      DriveEppPower(pass, bridge::DevicePath(pass.storageEntries[static_cast<size_t>(e)]), settings);
    }
  }
  if (settings.EnEPPTypeC && !scan.controlDeviceSeen) pass.EppPowered = 0;
  pass.PresentDeviceCount = scan.deviceCount;
  pass.RelinkIdleCount = scan.deviceCount;
  mix.AnyQvs646 = scan.qvs646Count > 0;
  mix.MixedQvs646 = scan.qvs646Count > 0 && scan.otherCount > 0;
  mix.AnyQvs819Family = anyQvs819;
  return scan;
}

}  // namespace station
