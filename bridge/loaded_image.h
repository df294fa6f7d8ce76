// The firmware file loaded for a pass, as the flash routines see it: a
// read-only view shared by every worker. The pass owns the bytes; a view
// without bytes means no image is loaded.
#pragma once

#include <cstdint>

namespace bridge {

struct LoadedImage {
  const uint8_t* data = nullptr;
  uint32_t length = 0;

  bool loaded() const { return data != nullptr && length != 0; }
};

}  // namespace bridge
