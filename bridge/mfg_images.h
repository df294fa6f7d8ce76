// The manufacturing (MFG) firmware images built into the program, one per
// boot ROM the newer bridges (ChipTypes 21-28) may run, and which one a
// bridge takes. Each is a program resource of kind "FW", taken whole and
// refused when it is missing or not of its expected size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bridge {

struct MfgImage {
  std::string_view name;
  uint32_t size;
};

inline constexpr uint32_t kMfgImageSize64K = 0x10000;
inline constexpr uint32_t kMfgImageSize1KFamily = 0xC400;

inline constexpr MfgImage kQvs871Rom0{"QVS871_ROM0_MFG", kMfgImageSize64K};
inline constexpr MfgImage kQvs872Rom0{"QVS872_ROM0_MFG", kMfgImageSize64K};
inline constexpr MfgImage kQvs871Rom1{"QVS871_ROM1_MFG", kMfgImageSize64K};
inline constexpr MfgImage kQvs872Rom1{"QVS872_ROM1_MFG", kMfgImageSize64K};
inline constexpr MfgImage kQvs873Rom1{"QVS873_ROM1_MFG", kMfgImageSize64K};
inline constexpr MfgImage kQvs875Rom1{"QVS875_ROM1_MFG", kMfgImageSize64K};
inline constexpr MfgImage kQvs885Rom0{"QVS885_ROM0_MFG", kMfgImageSize1KFamily};
inline constexpr MfgImage kQvs884RomA0{"QVS884_ROM_MFG_A0", kMfgImageSize1KFamily};
inline constexpr MfgImage kQvs884RomA1{"QVS884_ROM_MFG_A1", kMfgImageSize1KFamily};
inline constexpr MfgImage kQvs891Rom0{"QVS891_ROM0_MFG", kMfgImageSize64K};
inline constexpr MfgImage kQvs894Rom0{"QVS894_ROM0_MFG", kMfgImageSize64K};

// The QVS87x image by its loader code.
struct Qvs87xMfgCode {
  int code;
  MfgImage image;
};
inline constexpr std::array<Qvs87xMfgCode, 6> kQvs87xMfgCodes = {{
    {1, kQvs871Rom0}, {2, kQvs872Rom0}, {11, kQvs871Rom1},
    {12, kQvs872Rom1}, {13, kQvs873Rom1}, {15, kQvs875Rom1},
}};

// Which code the chip-information block asks for: byte 7 the boot-ROM
// version, byte 5 the model letter.
inline constexpr size_t kChipInfoModelLetter = 5;
inline constexpr size_t kChipInfoBootRomVersion = 7;
struct Qvs87xBootRom {
  uint8_t version;
  char letter;
  int code;
};
inline constexpr std::array<Qvs87xBootRom, 6> kQvs87xBootRoms = {{
    {0, 'a', 1}, {0, 'b', 2}, {1, 'a', 11}, {1, 'b', 12}, {1, 'c', 13}, {1, 'e', 15},
}};
// 0 when the combination has no MFG image.
[[nodiscard]] int Qvs87xMfgCodeFor(const uint8_t* chipInfo);

// The loaders: the resource size (0 when missing, or when `offset` lies past
// the image); they copy the slice from `offset` (`length` 0 or past the end:
// up to the end), never more than `bufferSize` bytes, to the buffer's start.
[[nodiscard]] size_t LoadMfgImage(const MfgImage& image, uint8_t* buffer, size_t bufferSize,
                                  uint32_t offset, uint32_t length);
// code: 1, 2, 11, 12, 13, 15 (kQvs87xMfgCodes); another code gives 0.
[[nodiscard]] size_t LoadMfgFirmwareQVS87x(uint8_t* buffer, size_t bufferSize, uint32_t offset,
                                           uint32_t length, int code);
[[nodiscard]] size_t LoadMfgFirmwareQVS885(uint8_t* buffer, size_t bufferSize, uint32_t offset,
                                           uint32_t length);
// code 1 = A0, 2 = A1.
[[nodiscard]] size_t LoadMfgFirmwareQVS884(uint8_t* buffer, size_t bufferSize, uint32_t offset,
                                           uint32_t length, int code);
[[nodiscard]] size_t LoadMfgFirmwareQVS891(uint8_t* buffer, size_t bufferSize, uint32_t offset,
                                           uint32_t length);
[[nodiscard]] size_t LoadMfgFirmwareQVS894(uint8_t* buffer, size_t bufferSize, uint32_t offset,
                                           uint32_t length);

}  // namespace bridge
