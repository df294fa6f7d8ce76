// The configuration and firmware update of one bridge, one flow per chip
// family, as the port worker runs it and the device library reuses it. Each
// flow takes the device, the chip type, the two update switches, the loaded
// firmware file and the pieces of the settings it reads, and returns 1 for
// success and 0 for failure; none touches a port record or a window.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "bridge/chip_identification.h"
#include "bridge/loaded_image.h"
#include "station/config_image.h"
#include "station/settings_block.h"

namespace station {

// The worker's copy of the firmware file for the QVS87x flow.
inline constexpr uint32_t kWorkingCopySize = 0x40000;

// The configuration a worker builds: the option block (a copy of the
// settings' OptionBlock) and the 256-byte page of the chips that keep one.
struct ConfigImage {
  ConfigBlock block{};
  ConfigPage page{};
};

// What every flow is told.
struct UpdateTarget {
  const char* devicePath = nullptr;
  bridge::ChipType chipType = 0;
  bool writeFirmware = false;  // the firmware update switch
  bool writeConfig = false;    // the configuration update switch
  bridge::LoadedImage image;   // the firmware file; empty when none is loaded
  // ChipTypes 25-28: the MFG firmware was started on its own before (the
  // device library's manufacturing step) and takes the image as it is.
  bool mfgRunning = false;
};

// The three USB string descriptors of the settings into the option block,
// at the positions the layout gives (OptionOffsets [6]/[7], [8]/[9],
// [10]/[11]); 8-bit texts for ChipTypes 29 and 34. ChipTypes 14-18 without
// a product string get the bridge's own one. `diskStringBox` is the state of
// the box that maps the manufacturer string to the INQUIRY texts.
void PutIdentityDescriptors(bridge::ChipType chipType, SettingsBlock& settings, bool diskStringBox,
                            ConfigBlock& block);

// ChipType 9: firmware and configuration by FF 04, keeping the flash header.
[[nodiscard]] int UpdateKeepHeaderFamily(const UpdateTarget& target, const ConfigImage& config);

// ChipTypes 11, 12, 13 and 19: the default configuration (from the image when
// it carries one), rebuilt from the settings when the configuration is
// written, then the image programmed by the route the chip and its link
// speed call for. `portSpeed` is the port's speed code read just before.
[[nodiscard]] int UpdateDfImageFamily(const UpdateTarget& target, ConfigImage& config,
                                      SettingsBlock& settings, const StationOptions& options,
                                      int32_t portSpeed);

// ChipType 20: configuration from the defaults or, configuration only, from
// the device's flash; then the CRC-sealed image.
[[nodiscard]] int UpdateQvs879(const UpdateTarget& target, ConfigImage& config,
                               SettingsBlock& settings, const StationOptions& options);

// ChipTypes 25, 27 and 28: the READ/WRITE BUFFER update with the
// configuration area of the chip.
[[nodiscard]] int UpdateQvs887Family(const UpdateTarget& target, ConfigImage& config,
                                     SettingsBlock& settings, const StationOptions& options);

// ChipType 26. `revision` is the chip revision of the first identified port;
// `spiFlashType` sizes the chunks of the second bank (255 unknown); `enPd`
// the PD switch.
[[nodiscard]] int UpdateQvs884(const UpdateTarget& target, ConfigImage& config,
                               SettingsBlock& settings, const StationOptions& options,
                               uint8_t revision, uint8_t spiFlashType, bool enPd);

// The other FF 04 chips with a ready flash: the 48 KB layout, through the SST
// write path when the flash is an SST part (SpiFlashType 4 answering BF 25).
[[nodiscard]] int UpdateFlash48K(const UpdateTarget& target, const ConfigImage& config,
                                 uint8_t spiFlashType);

// Every other chip: the whole 64 KB identity image of the other flash family.
[[nodiscard]] int UpdateIdentityImage(const UpdateTarget& target, const SettingsBlock& settings,
                                      uint8_t flashType);

// ---- ChipTypes 21-24 (QVS87x).

// The standby state as the flow found it on the device, for the power
// condition the worker sets again after the clone relink.
struct StandbyQuery {
  bool queried = false;
  bool enabled = true;
  int64_t minutes = 3;
};

struct Qvs87xHooks {
  // Resets the bridge and finds it again; false when it was not found.
  std::function<bool()> relink;
  // Tells the window that the port's row changed.
  std::function<void()> post;
  // Marks the configuration step running (the worker's status word).
  std::function<void()> configRunning;
};

enum class FlowResult : uint8_t {
  Failed = 0,
  Done = 1,
  // Failed where the update cannot go on at all (an erase or its relink):
  // the worker skips the rest of its update steps.
  Abandoned = 2,
};

// The identity a QVS87x product holds: its INQUIRY texts and USB strings
// (InquiryVendor, InquiryProduct, StringCText, StringBText), the sources it
// takes its strings from, and its ids and serial (VidValue, PidValue,
// SerialText, SerialLength). 1 when both were read.
struct Qvs87xSources {
  int32_t manuProd = 0;  // the USB strings come from the customer texts
  int32_t inquiry = 0;   // the INQUIRY texts likewise
};
[[nodiscard]] int ReadQvs87xIdentity(const char* devicePath, SettingsBlock& settings,
                                     Qvs87xSources& sources);

// The firmware a QVS87x product holds, as the configuration-only update
// reads it (both banks for a clone product, in the order its clone mark
// gives) into `out` of at least kWorkingCopySize bytes.
[[nodiscard]] int ReadQvs87xFirmware(const char* devicePath, bool cloneProduct,
                                     std::span<uint8_t> out);

// `workingCopy` is the worker's 256 KB copy of the firmware file (fw on);
// `settings` is the worker's copy, whose identity texts and ids the
// firmware-only flow takes from the device.
[[nodiscard]] FlowResult UpdateQvs87x(const UpdateTarget& target, std::span<uint8_t> workingCopy,
                                      SettingsBlock& settings, bool cloneProduct,
                                      const Qvs87xHooks& hooks, StandbyQuery& standby);

// What the family flows take beyond the target, as the caller knows it.
struct FlowInputs {
  ConfigImage& config;
  SettingsBlock& settings;
  const StationOptions& options;
  // ChipTypes 11-13 and 19: the port's speed code, read just before the flow.
  std::function<int32_t()> readPortSpeed{};
  uint8_t revision = 0;       // ChipType 26: of the first identified product
  uint8_t spiFlashType = 255;
  bool enPd = false;          // ChipType 26: the PD switch
  bool flashReady = false;    // PrepareSpiFlash found the flash ready
  std::span<uint8_t> workingCopy{};  // QVS87x, firmware on
  bool cloneProduct = false;
  Qvs87xHooks hooks{};
  StandbyQuery* standby = nullptr;  // QVS87x: what the flow queried
};

// The flow of the target's chip family.
[[nodiscard]] FlowResult RunUpdateFlow(const UpdateTarget& target, FlowInputs& in);

// The power condition after a clone relink: the settings' timer when the
// configuration was written with the QVS871 standby switch on, else the
// state the QVS87x flow queried (0 minutes when disabled). 1 when nothing
// was to be set or the set succeeded.
[[nodiscard]] int RestoreStandby(const char* devicePath, bool configWritten, bool standbySwitch,
                                 int32_t standbyTimer, const StandbyQuery& standby);

}  // namespace station
