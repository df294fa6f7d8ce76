// A USB string descriptor written into a configuration block or page.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace station {

inline constexpr uint8_t kStringDescriptorType = 3;
// The EEPROM type whose descriptors hold 8-bit characters.
inline constexpr int32_t kEightBitTableType = 3;

// Writes `text` (at most `maxChars` characters) as a string descriptor at
// `offset` of `buffer`: clears the character area, then the header (length
// 2n + 2, or 0 for no text; type 3) and the characters, as single bytes when
// `eightBit` is set or `tableType` is 3, else as UTF-16LE. The length byte
// says 2n + 2 in both forms.
//
// `clearBytes` is the count the caller asks to clear after the header; at
// most `maxChars` characters' worth are cleared. Offset 0 means the chip has
// no such descriptor. Nothing is written outside `buffer`: characters that
// would not fit are left out (and not counted), and a header that would not
// fit leaves the buffer untouched.
void PutUsbStringDescriptor(std::string_view text, int32_t maxChars, std::span<uint8_t> buffer,
                            int32_t offset, int32_t clearBytes, int eightBit, int32_t tableType);

}  // namespace station
