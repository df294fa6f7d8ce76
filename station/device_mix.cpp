#include "station/device_mix.h"

#include <algorithm>
#include <bit>

#include "station/eeprom_layout.h"

namespace station {
namespace {

enum class Change : uint8_t { kSame, kSet, kClear };

// Rows of the chip-mix table. Two rules depend on more than the chip type:
// a ChipType 8 takes the standby timer from the first chip's revision, and
// a QVS646-family device gives up the firmware update with EEPROMOnly.
struct MixRow {
  unsigned first;
  unsigned last;
  Change standbyTimer = Change::kSame;
  Change legacyOnly = Change::kSame;
  Change eepromTypeSelectable = Change::kSame;
  Change firmwareUpdate = Change::kSame;
  Change usb3Family = Change::kSame;
  Change oddSize = Change::kSame;
  Change hddString = Change::kSame;
  Change qvs87x = Change::kSame;
  Change type3 = Change::kSame;
  bool standbyByRevision = false;
  bool firmwareOffWithEepromOnly = false;
};

constexpr Change S = Change::kSet;
constexpr Change C = Change::kClear;

constexpr MixRow kMixRows[] = {
    {.first = 6, .last = 6, .standbyTimer = S, .legacyOnly = C, .eepromTypeSelectable = C},
    {.first = 7, .last = 7, .standbyTimer = S, .legacyOnly = C, .eepromTypeSelectable = C},
    {.first = 15, .last = 16, .standbyTimer = S, .legacyOnly = C, .eepromTypeSelectable = C},
    {.first = 8, .last = 8, .legacyOnly = C, .eepromTypeSelectable = C, .firmwareUpdate = C,
     .standbyByRevision = true},
    {.first = 9, .last = 9, .standbyTimer = C, .legacyOnly = C, .eepromTypeSelectable = C},
    {.first = 11, .last = 12, .standbyTimer = C, .legacyOnly = C, .eepromTypeSelectable = C},
    {.first = 13, .last = 13, .legacyOnly = C, .eepromTypeSelectable = C, .usb3Family = S},
    {.first = 17, .last = 17, .standbyTimer = S, .legacyOnly = C, .eepromTypeSelectable = C,
     .firmwareUpdate = C},
    {.first = 18, .last = 18, .standbyTimer = S, .legacyOnly = C, .eepromTypeSelectable = C,
     .oddSize = S},
    {.first = 19, .last = 20, .legacyOnly = C, .eepromTypeSelectable = C, .usb3Family = S,
     .oddSize = S, .hddString = S},
    {.first = 21, .last = 24, .legacyOnly = C, .eepromTypeSelectable = C, .usb3Family = S,
     .oddSize = S, .hddString = S, .qvs87x = S},
    {.first = 25, .last = 28, .legacyOnly = C, .eepromTypeSelectable = C, .usb3Family = S,
     .hddString = S},
    {.first = 29, .last = 29, .standbyTimer = C, .eepromTypeSelectable = C, .type3 = S,
     .firmwareOffWithEepromOnly = true},
    {.first = 34, .last = 34, .standbyTimer = C, .eepromTypeSelectable = C, .type3 = S,
     .firmwareOffWithEepromOnly = true},
    {.first = 30, .last = 33, .standbyTimer = C, .firmwareUpdate = C, .type3 = C},
};

void Apply(bool& flag, Change change) {
  if (change == Change::kSet) flag = true;
  if (change == Change::kClear) flag = false;
}

}  // namespace

void StartDeviceMix(DeviceMix& mix) {
  mix.LegacyOnly = true;
  mix.Type3Allowed = true;
  mix.FirmwareUpdateAllowed = true;
  mix.StandbyTimerSupported = true;
  mix.Qvs87xPresent = false;
  mix.EepromTypeSelectable = false;
  mix.Usb3Family = false;
  mix.ChipTypeMask = 0;
}

void ApplyChipMixRow(DeviceMix& mix, unsigned chipType, uint16_t firstChipTypeRev,
                     int32_t eepromOnly) {
  for (const MixRow& row : kMixRows) {
    if (chipType < row.first || chipType > row.last) continue;
    Apply(mix.StandbyTimerSupported, row.standbyTimer);
    Apply(mix.LegacyOnly, row.legacyOnly);
    Apply(mix.EepromTypeSelectable, row.eepromTypeSelectable);
    Apply(mix.FirmwareUpdateAllowed, row.firmwareUpdate);
    Apply(mix.Usb3Family, row.usb3Family);
    Apply(mix.OddSizeSupported, row.oddSize);
    Apply(mix.HddStringMode, row.hddString);
    Apply(mix.Qvs87xPresent, row.qvs87x);
    Apply(mix.Type3Allowed, row.type3);
    if (row.standbyByRevision)
      mix.StandbyTimerSupported = static_cast<int8_t>(firstChipTypeRev >> 8) >= 8;
    if (row.firmwareOffWithEepromOnly && eepromOnly != 0) mix.FirmwareUpdateAllowed = false;
    return;
  }
}

int CountChipModels(uint64_t chipTypeMask) {
  constexpr uint64_t kModels = ((uint64_t{1} << 35) - 1) & ~uint64_t{1};  // bits 1-34
  return std::popcount(chipTypeMask & kModels);
}

int32_t ChipClassCode(const DeviceMix& mix) {
  return (mix.Type3Allowed ? 2 : 0) + (mix.LegacyOnly ? 1 : 0);
}

EepromTypeList BuildEepromTypeList(int32_t interleaveMode, bool type3Allowed, int32_t oldIndex) {
  EepromTypeList list;
  const LayoutFamily family =
      interleaveMode == kInterleaveOnlyQvs646 ? LayoutFamily::kQvs646 : LayoutFamily::kStandard;
  for (const EepromLayout& layout : EepromLayouts()) {
    if (layout.family != family) continue;
    if (layout.layoutIndex == kLayoutIndexType3 && !type3Allowed) continue;
    list.items.push_back(layout.itemText);
  }
  const auto last = static_cast<int32_t>(list.items.size()) - 1;
  if (family == LayoutFamily::kQvs646) {
    list.selected = oldIndex == 1 && last >= 1 ? 1 : 0;
  } else {
    // The choice is never the operator's here: "Type 3" whenever offered,
    // else the old index, kept inside the list.
    list.selected = type3Allowed ? last : std::clamp(oldIndex, 0, last);
  }
  return list;
}

}  // namespace station
