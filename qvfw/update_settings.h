// A CustomizedSettingTable entry as the station's settings, which the chip
// family's update flow takes: the product's present identity with the
// entry's enabled items laid over it.
#pragma once

#include <optional>

#include "bridge/chip_identification.h"
#include "qvfw/device_registry.h"
#include "qvfw/setting_table.h"
#include "station/eeprom_layout.h"
#include "station/settings_block.h"
#include "station/update_flows.h"

namespace qvfw {

constexpr bool IsQvs87x(bridge::ChipType chipType) { return chipType >= 21 && chipType <= 24; }
// The family that keeps its identity in the 64 KB image.
constexpr bool KeepsIdentityImage(bridge::ChipType chipType) {
  return chipType == 29 || chipType == 34;
}
// The families whose identity is the 256-byte configuration area in their
// flash, beside the firmware, in the 8-bit layout ("Type 3").
constexpr bool KeepsConfigArea(bridge::ChipType chipType) {
  return chipType >= 25 && chipType <= 28;
}
// Those and the CRC-sealed image families: the 256-byte configuration page,
// whose manufacturer descriptor is built from StringC in the 8-bit layout.
constexpr bool KeepsConfigPage(bridge::ChipType chipType) {
  return chipType == 19 || chipType == 20 || KeepsConfigArea(chipType);
}
// The families whose default bytes (type bytes at 13, 49 and 85) leave only
// the 8-bit layout whole.
constexpr bool TakesEightBitLayout(bridge::ChipType chipType) {
  return chipType == 13 || KeepsConfigPage(chipType);
}
// The image families that keep the 128-byte block at the head of their
// flash (the others keep it behind the firmware or in an EEPROM).
constexpr bool KeepsBlockAtFlashHead(bridge::ChipType chipType) {
  return chipType == 9 || (chipType >= 11 && chipType <= 13);
}
// The boot-code chips run from their ROM and keep no identity: they take
// no CustomizedSettingTable entry.
constexpr bool TakesIdentity(bridge::ChipType chipType) {
  return chipType != bridge::kChipTypeNone &&
         (chipType < bridge::kBootCodeChipTypeBase || chipType > bridge::kBootCodeChipTypeBase + 3);
}
// The option-block layout the library writes for a chip that keeps one.
const station::EepromLayout& LibraryLayout(bridge::ChipType chipType);

struct UpdateSettings {
  station::SettingsBlock settings = station::ZeroedSettingsBlock();
  station::StationOptions options;
};

// What a QVS87x product held when it was preserved for a clone firmware
// write, as station::ReadQvs87xIdentity reads it.
struct PreservedIdentity {
  station::SettingsBlock settings = station::ZeroedSettingsBlock();
  station::Qvs87xSources sources;
};

// None when an enabled item lacks its value, or a text is longer than the
// family's field: an entry is written whole or not at all.
std::optional<UpdateSettings> SettingsForEntry(const SettingEntry& entry,
                                               const ListedDevice& device,
                                               bridge::ChipType chipType);

// The preserved identity, written back as it was.
UpdateSettings SettingsForPreserved(const PreservedIdentity& preserved);

// The product's standby timer in minutes (0: standby off); none when the
// product does not answer.
std::optional<int> ReadStandbyMinutes(const char* path);

}  // namespace qvfw
