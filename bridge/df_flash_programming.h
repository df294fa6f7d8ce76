// Firmware and configuration images of the 48 KB families written into the
// SPI flash through the 0xDF commands and proven by reading them back: the
// erase-unit chunking by SpiFlashType, the write-verify loop, the image
// builders, the CRC-16 that seals the ChipType 19/20 images, and the older
// path through the FF 04 commands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bridge/flash_detection.h"
#include "bridge/loaded_image.h"

namespace bridge {

// Erase units by SpiFlashType 0..18.
inline constexpr std::array<uint32_t, 19> kFlashBlockSizeTable = {
    0x8000,  0x8000,  0x8000,  0x8000,  0x8000,  0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
    0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000, 0x10000,
};
inline constexpr std::array<uint32_t, 19> kFlashSectorSizeTable = {
    0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x8000, 0x8000, 0x1000, 0x1000, 0x1000,
    0x8000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000, 0x1000,
};

// A type outside the tables (unknown, or a part the tables do not list)
// takes the largest unit of each table: a guess too large leaves bytes
// unerased, which the read-back catches and the next erase type mends; a
// guess too small would erase bytes already written.
inline constexpr uint32_t kUnknownFlashBlockSize = 0x10000;
inline constexpr uint32_t kUnknownFlashSectorSize = 0x8000;
constexpr uint32_t FlashBlockSize(unsigned flashType) {
  return flashType < kFlashBlockSizeTable.size() ? kFlashBlockSizeTable[flashType]
                                                 : kUnknownFlashBlockSize;
}
constexpr uint32_t FlashSectorSize(unsigned flashType) {
  return flashType < kFlashSectorSizeTable.size() ? kFlashSectorSizeTable[flashType]
                                                  : kUnknownFlashSectorSize;
}

inline constexpr uint32_t kDfMaxChunk = 0x2000;
inline constexpr uint32_t kDfFirstChunk = 0x1000;  // the chunk at flash address 0
inline constexpr uint32_t kDfLengthUnit = 512;

// Erase types (byte 1 of the 0xDF write, masked with 0x87).
inline constexpr uint8_t kEraseNone = 0;
inline constexpr uint8_t kEraseSector = 1;
inline constexpr uint8_t kEraseBlock = 2;
inline constexpr uint8_t kEraseWhole = 3;
inline constexpr uint8_t kEraseFlagFirstChunk = 0x80;  // on the chunk at 0 of SpiFlashType 7

// CRC-16, polynomial 0x1021, MSB first, no final XOR, fed nibble by nibble
// from length / 4 little-endian 32-bit words (trailing bytes are ignored).
[[nodiscard]] uint16_t Crc16Ccitt(const uint8_t* buffer, size_t length, uint16_t init);

// The erase type of the chunk at `address` and, where needed, a shorter
// chunk so that none crosses the end of the erased region. Units count from
// flash address 0; `unitsDone` is the number of units erased so far.
[[nodiscard]] uint8_t NextEraseUnit(uint32_t address, uint32_t* chunkLength, uint8_t eraseType,
                                    uint32_t* unitsDone, unsigned flashType);

[[nodiscard]] int ReadFlashChunked(const char* devicePath, uint32_t address, uint8_t* out,
                                   uint32_t length);
[[nodiscard]] int WriteBridgeFlashChunked(const char* devicePath, uint32_t address,
                                          const uint8_t* data, uint32_t length, uint8_t eraseType,
                                          unsigned flashType);

// Three tries, erase types 2 (3 for SpiFlashType 9), then 3, then 1.
inline constexpr int kWriteVerifyTries = 3;
[[nodiscard]] int WriteVerifyFlash(const char* devicePath, const uint8_t* image, uint32_t length,
                                   bool detectFlash);

// 1 when every byte is 0x00 or 0xFF.
[[nodiscard]] int IsBlankBuffer(const uint8_t* buffer, size_t length);

// 1 when the 4-byte register at 0xFDB0 reads and its second byte is 0xB4 or more.
[[nodiscard]] int IsRegisterFDB0High(const char* devicePath);

// FF 04 route: 8 KB writes after 32 KB block erases, a chip erase when the
// blocks did not come clean.
[[nodiscard]] int ProgramFlashLegacy(const char* devicePath, const uint8_t* image, uint32_t length);

// Image layouts.
inline constexpr size_t kConfigAreaSize128 = 128;
inline constexpr size_t kConfigAreaSize256 = 256;
inline constexpr size_t kOptionBytes = 4;
inline constexpr uint32_t kOptionOffset = 136;
inline constexpr uint32_t kHeaderMarkOffset = 126;  // "QV" in a valid configuration area
inline constexpr uint32_t kCrcFirmwareEnd = 0xC000;
inline constexpr uint32_t kCrcCoveredLength = 0xBFFC;
inline constexpr uint32_t kCrcHigh = 0xBFFE;
inline constexpr uint32_t kCrcLow = 0xBFFF;
inline constexpr uint32_t kCrcConfigArea = 0xC000;
inline constexpr uint32_t kCrcConfigMark = 0xC0FE;
inline constexpr uint32_t kCrcImageMinimum = 0xC100;
inline constexpr uint32_t kCrcExtImageMinimum = 0xC200;
inline constexpr uint32_t kCrcExtArea = 0xC100;  // 512 bytes always from the image
inline constexpr uint32_t kCrcExtAreaSize = 0x200;
inline constexpr uint32_t kNoImageLength = 0x10000;

// ChipTypes 11-13: the configuration area at 0..127, option bytes at
// 136..139; ..WithHeader writes by 0xDF with write-verify, ..ByPages by FF 04.
[[nodiscard]] int ProgramImageWithHeader(const char* devicePath, bool writeConfig,
                                         bool writeFirmware, const uint8_t* config128,
                                         const uint8_t* option4, const LoadedImage& image);
[[nodiscard]] int ProgramImageByPages(const char* devicePath, bool writeConfig, bool writeFirmware,
                                      const uint8_t* config128, const uint8_t* option4,
                                      const LoadedImage& image);
// ChipTypes 19 and 20: firmware 0..0xBFFF sealed by the CRC-16, the 256-byte
// configuration area at 0xC000 (and for 20 the image's 512 bytes at 0xC100).
[[nodiscard]] int ProgramImageWithCrc(const char* devicePath, bool writeConfig, bool writeFirmware,
                                      const uint8_t* config256, const LoadedImage& image);
[[nodiscard]] int ProgramImageWithCrcExt(const char* devicePath, bool writeConfig,
                                         bool writeFirmware, const uint8_t* config256,
                                         const LoadedImage& image);

}  // namespace bridge
