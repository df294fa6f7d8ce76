// The common CRC-32 (reflected polynomial 0xEDB88320, initial and final
// value 0xFFFFFFFF), as GPT headers and partition arrays carry it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// "123456789" gives 0xCBF43926. `previous` continues an earlier result.
uint32_t Crc32(const void* data, size_t length, uint32_t previous = 0);

}  // namespace platform
