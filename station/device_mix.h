// What every device list refresh derives from the chip types of the present
// products: which chip families are attached, and from that which settings
// the window may offer. The option handlers, the rescan timer and the pass
// read it; only the refresh writes it. The device counts the workers share
// (PresentDeviceCount, RelinkIdleCount) and the first chip's identification
// live in the pass state.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace station {

struct DeviceMix {
  uint64_t ChipTypeMask = 0;  // bit n: a present device has ChipType n
  bool AnyQvs646 = false;     // ChipType 29 or 34
  bool MixedQvs646 = false;   // QVS646-family and other devices together
  bool AnyQvs819Family = false;  // ChipType 17 or 18
  bool Usb3Family = false;       // ChipType 13 or 19-28
  bool Type3Allowed = false;     // the EEPROM type list offers "Type 3"
  bool LegacyOnly = false;       // every device is of ChipType 1-5, 10, 14 or 29-34
  bool EepromTypeSelectable = false;
  bool FirmwareUpdateAllowed = false;
  bool AutoStartReady = false;   // auto-run / bar-code: every start condition held
  bool StandbyTimerSupported = false;
  bool OddSizeSupported = false;  // ChipType 18-24
  bool HddStringMode = false;     // ChipType 19-28
  bool Qvs87xPresent = false;     // ChipType 21-24
};

// InterleaveMode values.
inline constexpr int32_t kInterleaveMixed = 0;    // QVS646-family and other devices
inline constexpr int32_t kInterleaveNoQvs646 = 1;
inline constexpr int32_t kInterleaveOnlyQvs646 = 2;

constexpr bool IsQvs646Family(unsigned chipType) { return chipType == 29 || chipType == 34; }
constexpr bool IsQvs87x(unsigned chipType) { return chipType >= 21 && chipType <= 24; }

// The values a refresh with devices starts from.
void StartDeviceMix(DeviceMix& mix);

// The chip-mix table: what one present device of `chipType` changes. A
// later device overwrites what an earlier one set.
void ApplyChipMixRow(DeviceMix& mix, unsigned chipType, uint16_t firstChipTypeRev,
                     int32_t eepromOnly);

// Distinct ChipTypes 1-34 in the mask.
[[nodiscard]] int CountChipModels(uint64_t chipTypeMask);

// Type3Allowed x 2 + LegacyOnly.
int32_t ChipClassCode(const DeviceMix& mix);

// The items of the EEPROM type choice for the attached family and the item
// to select, given the index it had before the rebuild (clamped, so a list
// always has its item selected).
struct EepromTypeList {
  std::vector<std::string_view> items;
  int32_t selected = 0;
};
EepromTypeList BuildEepromTypeList(int32_t interleaveMode, bool type3Allowed, int32_t oldIndex);

}  // namespace station
