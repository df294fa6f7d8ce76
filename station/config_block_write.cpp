#include "station/config_block_write.h"

#include <cstring>

#include "bridge/vendor_commands.h"

namespace station {

int WriteAndVerifyBlock(const char* devicePath, std::span<const uint8_t, kConfigBlockWriteSize> block,
                        int32_t tries) {
  if (tries < 1) tries = 1;
  int written = 0;
  for (int32_t i = 0; i < tries && written == 0; ++i)
    written = bridge::WriteBridgeFlashHead(devicePath, block.data(), kConfigBlockWriteSize);
  if (written != 1) return written;
  uint8_t readBack[kConfigBlockWriteSize] = {};
  if (!bridge::ReadBridgeFlashHead(devicePath, readBack, kConfigBlockWriteSize)) return 0;
  return std::memcmp(readBack, block.data(), kConfigBlockWriteSize) == 0 ? 1 : 0;
}

}  // namespace station
