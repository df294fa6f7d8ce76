// One firmware or identity write into one product, through the station's
// flow for the product's chip family.
#pragma once

#include <cstdint>
#include <span>

#include "qvfw/device_registry.h"
#include "qvfw/update_settings.h"

namespace qvfw {

struct UpdateRequest {
  bool firmware = false;  // the firmware file set by QV_SetFWBinFilePath
  bool identity = false;  // the device's CustomizedSettingTable entry
  bool clone = false;     // a clone-product write (QVS87x only)
  // QVS87x: this image instead of the firmware file.
  std::span<const uint8_t> image{};
  // This identity instead of the entry's.
  const UpdateSettings* settings = nullptr;
};

// 1 when the flow wrote and verified what was asked. 0 without writing
// anything when the chip is unknown, the entry is missing or incomplete,
// or the firmware file does not load or does not fit the clone setting.
// The caller holds the device's lock.
[[nodiscard]] int RunUpdate(const ListedDevice& device, const UpdateRequest& request);

}  // namespace qvfw
