// The update drivers the port worker calls for ChipTypes 21-28: download,
// read back and compare, up to three tries. With bootRom the first try starts
// the MFG firmware; a later try then finds the bridge no longer in its boot
// ROM and fails safe (it does not start over).
#pragma once

#include <cstdint>
#include <span>

#include "bridge/loaded_image.h"

namespace bridge {

inline constexpr int kUpdateTries = 3;
inline constexpr uint32_t kQvs87xUpdateLength = 0x40000;
inline constexpr uint32_t kQvs887UpdateLength = 0xC400;
inline constexpr uint32_t kQvs891UpdateLength = 0x10400;

// The 512-byte configuration block in the flash; its first 256 bytes are the
// configuration area.
inline constexpr uint32_t kFlashConfigBlockSize = 512;
inline constexpr uint32_t kConfigAreaSize = 256;
inline constexpr uint32_t kQvs887ConfigAddress = 0xD000;
inline constexpr uint32_t kQvs891ConfigAddress = 0x11000;
// Where the FirmwareImage holds that block, which is also where the compare
// of the code ends.
inline constexpr uint32_t kQvs887ImageConfigBlock = 0xC400;
inline constexpr uint32_t kQvs891ImageConfigBlock = 0x10400;
// The file image of the QVS884 large layout.
inline constexpr uint32_t kQvs884LargeImageSize = 0x10600;

// Skipped by every compare: the bank header area.
inline constexpr uint32_t kHeaderSkipFirst = 0x200;
inline constexpr uint32_t kHeaderSkipLast = 0x3FF;

// ChipTypes 21-24: the compare covers `length` bytes after a boot-ROM
// download or on a version-2 chip-information layout, else the first bank,
// skipping both bank headers.
[[nodiscard]] int UpdateFirmwareQVS87x(const char* devicePath, uint32_t start, uint32_t length,
                                       bool bootRom, bool useFirst,
                                       std::span<const uint8_t> firstImage,
                                       std::span<const uint8_t> config4K,
                                       std::span<const uint8_t> secondImage);

// ChipTypes 25, 27, 28: config256 is the 256-byte configuration area;
// writeConfig / writeFirmware are the two update settings.
[[nodiscard]] int UpdateFirmwareQVS887(const char* devicePath, uint32_t start, uint32_t length,
                                       bool bootRom, const uint8_t* config256, bool writeConfig,
                                       bool writeFirmware, const LoadedImage& image);
[[nodiscard]] int UpdateFirmwareQVS891(const char* devicePath, uint32_t start, uint32_t length,
                                       bool bootRom, const uint8_t* config256, bool writeConfig,
                                       bool writeFirmware, const LoadedImage& image);
[[nodiscard]] int UpdateFirmwareQVS894(const char* devicePath, uint32_t start, uint32_t length,
                                       bool bootRom, const uint8_t* config256, bool writeConfig,
                                       bool writeFirmware, const LoadedImage& image);
// ChipType 26: revision 1 = A0, 2 = A1; configAddress 0xD000 or 0x1D000.
[[nodiscard]] int UpdateFirmwareQVS884(const char* devicePath, uint32_t start, uint32_t length,
                                       bool bootRom, const uint8_t* config256, bool writeConfig,
                                       bool writeFirmware, int revision, uint32_t configAddress,
                                       bool enPd, const LoadedImage& image);

}  // namespace bridge
