// The sub-operations of the bridges' FF 04 command (CDB byte 2), as the
// bridge firmware tells them apart.
#pragma once

#include <cstdint>

namespace sim::ff04 {

// The other flash family's parallel part (ChipTypes 29, 34); on SPI flash
// 00 is the busy poll.
inline constexpr uint8_t kBusyPoll = 0x00;
inline constexpr uint8_t kParallelErase = 0x01;    // the erase cycles kEraseCycles handed over
inline constexpr uint8_t kParallelProgram = 0x02;  // from address 0, the unlock cycles in the CDB
inline constexpr uint8_t kParallelRead = 0x03;     // 32-bit little-endian address
inline constexpr uint8_t kEraseCycles = 0x04;      // 18 bytes of erase cycles
inline constexpr uint8_t kFlashMode = 0x05;        // no data: enter flash mode

// SPI flash.
inline constexpr uint8_t kSetOpcodes = 0x0F;       // chip, block, program, sector erase opcodes
inline constexpr uint8_t kRead = 0x10;             // 24-bit address
inline constexpr uint8_t kProgram = 0x11;
inline constexpr uint8_t kReadStatus = 0x12;
inline constexpr uint8_t kChipErase = 0x13;
inline constexpr uint8_t kBlockErase = 0x14;
inline constexpr uint8_t kReadId = 0x15;           // 3 or 4 bytes of a SPI opcode's reply
inline constexpr uint8_t kSpiCommand = 0x20;       // raw: opcode and address bytes, data out
inline constexpr uint8_t kSpiReadData = 0x21;      // raw: clock data in, deselect
inline constexpr uint8_t kSpiWriteData = 0x22;     // raw: clock data out, deselect
inline constexpr uint8_t kFlashTypeCode = 0x23;
inline constexpr uint8_t kSetEraseOpcodes = 0x24;  // with the flash type byte
inline constexpr uint8_t kFlashOption = 0x25;      // 02 v: an option byte; no data: vendor command 25

// The bridge.
inline constexpr uint8_t kReset = 0x26;            // 'Q' 'V': leave the bus and come back
inline constexpr uint8_t kRevisionBlock = 0x30;
inline constexpr uint8_t kKeyCommand = 0x51;       // 'V' 'U'
inline constexpr uint8_t kConfigBlock = 0xA0;
inline constexpr uint8_t kStandby = 0xA3;
inline constexpr uint8_t kStatus = 0xC8;           // 00-03 a query (03 ready), 05 v sets status 5

}  // namespace sim::ff04
