// The configuration image a worker programs into a bridge: the 128-byte
// block (and for the later chips the 256-byte page that holds it), built
// from the chip's default table, the firmware file's own configuration or
// the device's current one, with the operator's settings laid over it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "bridge/chip_identification.h"
#include "bridge/loaded_image.h"
#include "station/eeprom_default_table.h"
#include "station/settings_block.h"

namespace station {

using ConfigBlock = std::array<uint8_t, kConfigBlockSize>;
using ConfigPage = std::array<uint8_t, kConfigPageSize>;

// ChipTypes whose configuration is a 256-byte page.
constexpr bool UsesConfigPage(bridge::ChipType chipType) {
  return chipType == 19 || chipType == 20 || (chipType >= 25 && chipType <= 28);
}

// Page positions of the later chips.
inline constexpr size_t kPageStringA = 200;
inline constexpr size_t kPageStringASize = 24;
inline constexpr size_t kPageManufacturerArea = 14;
inline constexpr size_t kPageManufacturerAreaSize = 30;
inline constexpr int32_t kPageManufacturerChars = 30;
inline constexpr size_t kPageOptions = 231;
inline constexpr size_t kPageOddSize = 232;
inline constexpr size_t kPageStandbyFlags = 242;
inline constexpr size_t kPageStandbyTime = 244;

// 1 when `image` carries a configuration for the ChipType: it is loaded,
// long enough to hold the whole 256-byte page at the ChipType's place, and
// holds the maker signature there.
[[nodiscard]] int ImageCarriesConfig(bridge::ChipType chipType, bridge::LoadedImage image);

// The default configuration of the ChipType. For ChipTypes 13, 19, 20 and
// 25-28 the table's byte entries of the block come from the image when
// `useImage` is set and the image carries a configuration, else from the
// table; for the page chips the page is then rebuilt around the block (the
// image's upper half, or the "HD", "BC" and "QV" marks). Other ChipTypes
// are left as they are. Returns 1.
int GetDefaultEepromConfig(bridge::ChipType chipType, ConfigBlock& block, ConfigPage& page,
                           int useImage, bridge::LoadedImage image);

// The device's configuration merged into the block and page: the table's
// byte entries and the upper half from the 256 bytes of `device` that start
// where the member says. 1, or 0 without a change when `device` is too
// short to hold them.
[[nodiscard]] int MergeDeviceConfigQVS879(ConfigBlock& block, ConfigPage& page,
                                          std::span<const uint8_t> flashImage);  // at 0xC000
[[nodiscard]] int MergeDeviceConfigQVS887(ConfigBlock& block, ConfigPage& page,
                                          std::span<const uint8_t> device);
[[nodiscard]] int MergeDeviceConfigQVS884(ConfigBlock& block, ConfigPage& page,
                                          std::span<const uint8_t> device);
[[nodiscard]] int MergeDeviceConfigQVS891(ConfigBlock& block, ConfigPage& page,
                                          std::span<const uint8_t> device);
[[nodiscard]] int MergeDeviceConfigQVS894(ConfigBlock& block, ConfigPage& page,
                                          std::span<const uint8_t> device);

inline constexpr uint32_t kQvs879ConfigOffset = 0xC000;

// ChipType 19 does not take EnMultiSec and EnOver2TBMulLun together: its page
// gets both off, and the worker that built it reports that the station is
// to switch both off, which the user-interface thread does after the pass.
constexpr bool SwitchesOffMultiSecOptions(bridge::ChipType chipType, const StationOptions& options) {
  return chipType == 19 && options.EnMultiSec && options.EnOver2TBMulLun;
}

// Lays the settings over the block and page of the ChipType (disk serial as
// StringB, option bits, the page's strings, standby timer and ODD size).
// The settings copy changes only where the disk serial replaces StringB;
// the station options are never changed. Returns 0.
int BuildEepromImage(const char* devicePath, bridge::ChipType chipType, SettingsBlock& settings,
                     const StationOptions& options, ConfigBlock& block, ConfigPage& page);

}  // namespace station
