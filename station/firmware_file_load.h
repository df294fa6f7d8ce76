// The firmware file of a pass read into the FirmwareImage, and its
// clone-product marks checked against the clone setting.
#pragma once

#include <cstdint>

#include "station/pass_state.h"

namespace station {

enum class FirmwareLoad : uint8_t {
  kLoaded,
  kUnreadable,  // no regular file, or a short read
  kEmpty,
  kTooLarge,     // more than the 256 KB block
  kNotClone,     // the clone setting is on, the file carries no clone marks
  kClone,        // the file carries clone marks, the setting is off
};

// A clone-product file: the two words at 0x1FFFC and 0x3FFFC differ.
[[nodiscard]] bool CarriesCloneMarks(bridge::LoadedImage image);

// Allocates the image and reads the file into it; the image keeps what was
// read whatever the outcome.
[[nodiscard]] FirmwareLoad LoadFirmwareFile(const char* path, bool cloneProduct,
                                            FirmwareImage& image);

}  // namespace station
