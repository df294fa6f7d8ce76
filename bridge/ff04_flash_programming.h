// Firmware programming of the older bridge families through the bridge
// firmware's own FF 04 flash commands. Every flow erases, checks that the
// erased area reads 0xFF, writes, reads back and compares; the first failure
// gives 0 and nothing is retried here. The loaded image is only read.
#pragma once

#include <cstdint>

#include "bridge/chip_identification.h"
#include "bridge/loaded_image.h"

namespace bridge {

// The one flash-ready wait of every route: FlashReadStatus until bit 0
// (busy) is clear, one read and then at most 501 more, 10 ms apart; a read
// that fails counts as busy. 1 when ready.
inline constexpr int kFlashReadyReads = 1 + 501;
[[nodiscard]] int WaitFlashReady(const char* devicePath);

// ReadFlashBusy every 10 ms while busy, at most 100 rounds of 500 polls
// (the other flash family's erase takes seconds). 1 when idle.
inline constexpr int kFlashIdlePolls = 100 * 500;
[[nodiscard]] int WaitFlashIdle(const char* devicePath);

// `length` bytes from `address` in 8 KB FlashRead commands, each after the
// flash reports ready; the last command reads only what remains. 1 when all
// reads succeed; 0 for a zero length, a flash that never gets ready or a
// failed read.
inline constexpr uint32_t kSpiReadChunk = 0x2000;
[[nodiscard]] int ReadSpiFlashChunked(const char* devicePath, uint32_t address, uint8_t* buffer,
                                      uint32_t length);

// SST auto-address-increment programming (SpiFlashType 4).
[[nodiscard]] int ProgramFlashAai(const char* devicePath, uint32_t address, const uint8_t* data,
                                  uint32_t length);

// The station's flash-family setting; -1 and 255 (none) are family 0.
[[nodiscard]] int FlashFamilyOf(int setting);

// Firmware at flash 0 in 32 KB erase blocks: at most two blocks.
inline constexpr uint32_t kFirmware32KLimit = 0x10000;
[[nodiscard]] int ProgramFirmware32K(const char* devicePath, const LoadedImage& image);

// An image carries its own 4 KB header block when 55 AA AA 55 "662" stands
// at 0x1000; a bare image (signature at 0) is written 0x1000 higher, behind
// the device's header block, and must be compared there.
inline constexpr uint32_t kHeaderBlockSize = 0x1000;
[[nodiscard]] bool HasHeaderBlock(const uint8_t* image, uint32_t length);
inline constexpr uint32_t kCallerConfigSize = 128;
[[nodiscard]] int ProgramFirmwareKeepHeader(const char* devicePath, bool configGiven,
                                            bool useLoadedImage, const uint8_t* config128,
                                            const LoadedImage& image);

// 0x0000-0x7FFF firmware, the configuration area at 0x8000 (the caller's
// 128 bytes or the device's 512), the rest of the 48 KB zero.
inline constexpr uint32_t kFlash48KSize = 0xC000;
inline constexpr uint32_t kFlash48KConfigArea = 0x8000;
inline constexpr uint32_t kDeviceConfigAreaSize = 512;
[[nodiscard]] int ProgramFlash48K(const char* devicePath, bool configGiven, bool useLoadedImage,
                                  const uint8_t* config128, bool useAai, const LoadedImage& image);

// ChipTypes 29 and 34: the FF 04 01..05 command set of the other flash family.
[[nodiscard]] int ProgramOtherFlashFamily(const char* devicePath, int flashFamily,
                                          const LoadedImage& image);

// The "F/W" step's dispatcher. A ChipType without an FF 04 route gets the
// message "This device not support Firmware Update!" and 0.
[[nodiscard]] int UpdateFirmwareByChipType(const char* devicePath, ChipType chipType,
                                           int flashFamily, const LoadedImage& image);

}  // namespace bridge
