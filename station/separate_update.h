// The configuration of the chips that have no combined update flow: the
// USB string descriptors into the option block, then the block into the
// configuration EEPROM, or into the configuration the disk keeps for
// ChipTypes 7 and 8 without one.
#pragma once

#include "bridge/chip_identification.h"
#include "station/settings_block.h"
#include "station/update_flows.h"

namespace station {

// `configSignature` is what the layout-mark check said before the step.
[[nodiscard]] int WriteSeparateConfig(const char* devicePath, bridge::ChipType chipType,
                                      bool configSignature, SettingsBlock& settings,
                                      const StationOptions& options, bool diskStringBox,
                                      ConfigImage& config);

}  // namespace station
