#include "station/separate_update.h"

#include "bridge/chip_identification.h"
#include "bridge/disk_resident_firmware.h"
#include "station/config_block_write.h"

namespace station {

int WriteSeparateConfig(const char* devicePath, bridge::ChipType chipType, bool configSignature,
                        SettingsBlock& settings, const StationOptions& options, bool diskStringBox,
                        ConfigImage& config) {
  PutIdentityDescriptors(chipType, settings, diskStringBox, config.block);
  const bool diskFamily =
      chipType == 7 || (chipType == 8 && bridge::ReadConfigType(devicePath) >= 0x30);
  if (!diskFamily) {
    return WriteAndVerifyBlock(devicePath, config.block, settings.EEPROMRetry);
  }
  const bool eeprom = bridge::TestConfigEeprom(devicePath) != 0;
  if (!eeprom) {
    if (!options.MPEEPROMAtHDD) return 0;
    if (!bridge::UpdateDiskFirmware(devicePath, config.block.data(), kConfigBlockSize, chipType))
      return 0;
  }
  if (chipType == 8 && configSignature && options.MPPellmarCustomer) {
    config.block[124] |= 0x20;
    if (!bridge::UpdateDiskFirmware(devicePath, config.block.data(), kConfigBlockSize, chipType) ||
        !bridge::UpdateFirmwareQVB639(devicePath, chipType)) {
      return 0;
    }
  }
  if (eeprom) return WriteAndVerifyBlock(devicePath, config.block, settings.EEPROMRetry);
  return 1;
}

}  // namespace station
