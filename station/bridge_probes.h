// One-register and one-IDENTIFY probes of a bridge that the device list and
// the configuration image builder ask before they decide.
#pragma once

#include <cstdint>

namespace station {

inline constexpr uint16_t kUsbModeRegister = 0x702B;
inline constexpr uint8_t kUsb3EnabledBit = 0x04;
inline constexpr uint16_t kRegister70C8 = 0x70C8;
inline constexpr uint8_t kRegister70C8Bit3 = 0x08;
inline constexpr uint16_t kModeRegister703B = 0x703B;
inline constexpr uint8_t kModeFieldMask = 0x07;
inline constexpr uint8_t kModeByteBase = 0x89;
// IDENTIFY word 106, bits 12 and 13: logical sectors longer than 256 words,
// several logical sectors per physical sector.
inline constexpr uint32_t kIdentifyWord106 = 106;
inline constexpr uint16_t kSectorSizeBits = 0x3000;

// 1 when bit 2 of register 0x702B is set; 0 also when it cannot be read.
[[nodiscard]] int IsUsb3Enabled(const char* devicePath);

// 1 when bit 3 of register 0x70C8 is set; 0 also when it cannot be read.
[[nodiscard]] int IsRegister70C8Bit3Set(const char* devicePath);

// ((register 0x703B & 7) << 4) | 0x89, never 0 after a read; 0 when the
// register cannot be read.
[[nodiscard]] uint8_t ReadRegister703BMode(const char* devicePath);

// 1 when the drive on bridge port 0 (master) or 1 (slave) answers IDENTIFY
// with bit 12 or 13 of word 106 set; 0 when it does not answer, and for any
// other port without a command.
[[nodiscard]] int IsIdentifyBitSet(const char* devicePath, int port);

}  // namespace station
