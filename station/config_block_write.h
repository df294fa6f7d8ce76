// The configuration block write of the separate update: the 128 bytes at
// the start of the configuration memory, written and read back.
#pragma once

#include <cstdint>
#include <span>

namespace station {

inline constexpr uint32_t kConfigBlockWriteSize = 128;

// Writes the block at configuration memory offset 0 up to `tries` times
// (below 1: once) until a write answers nonzero; a last answer other than 1
// is returned as it is. Then reads the 128 bytes back: 1 when they equal
// the block, 0 when they differ or cannot be read.
[[nodiscard]] int WriteAndVerifyBlock(const char* devicePath,
                                      std::span<const uint8_t, kConfigBlockWriteSize> block,
                                      int32_t tries);

}  // namespace station
