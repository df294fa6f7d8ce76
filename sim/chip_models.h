// The bridge models the bench can emulate, one row per ChipType. Each row
// holds what the chip says about itself (INQUIRY chip code, chip-information
// block, bridge id class, revision text, configuration type) and which
// command family it speaks; the rows are chosen so that the station's
// identification yields exactly the row's ChipType where it can.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sim {

enum class ChipFamily : uint8_t {
  kFf04Flash32K,  // 32 KB firmware through FF 04 10/11/14; configuration in an EEPROM
  kConfigType,    // configuration EEPROM, identified further by FF 04 A0 (8, 17)
  kDf48K,         // 48 KB image in the SPI flash written through DF FA/FB
  kBuffer4K,      // READ/WRITE BUFFER firmware in 4 KB units (QVS87x)
  kBuffer1K,      // READ/WRITE BUFFER firmware in 1 KB units
  kOtherFlash,    // FF 04 01..05 command set on a 64 KB flash (29, 34)
  kBootCodeOnly,  // boot ROM only: bridge id and INQUIRY, nothing else
};

struct ChipModel {
  uint8_t chipType = 0;
  std::string_view digits;        // three model digits
  std::string_view inquiryCode;   // INQUIRY bytes 36..39; empty: none
  std::string_view revisionText;  // FF 04 30 block default
  uint8_t bridgeIdClass = 0;      // bits 5-6 of the first bridge id byte
  uint8_t configType = 0;         // FF 04 A0 block byte 8
  ChipFamily family = ChipFamily::kFf04Flash32K;
  char modelLetter = 0;           // chip-information byte 5
  uint8_t infoByte6 = 1;          // chip-information bytes 6, 7: older firmware version
  uint8_t infoByte7 = 0;          //   (boot-ROM version on the buffer families)
  char revisionDigit = '0';       // chip-information byte 11
  bool identifiable = true;       // false: identification never yields this type
};

// ChipTypes 2, 10 and 34 are never produced by identification: 2 answers as
// type 1, 10 (chip code "q663") as type 0, 34 as type 29. ChipTypes 3, 5 and 6
// are told apart only by the revision-text refinement of the plain
// identification; the identification with revision reports them as 1, 4, 4.
// Type 34's configuration type is that of 29: 0xC2 reads back as 13.
inline constexpr std::array<ChipModel, 34> kChipModels = {{
    {1, "645", "q645", "q645A0", 3, 0xA1, ChipFamily::kFf04Flash32K},
    {2, "645", "q645", "q645A0", 3, 0xA2, ChipFamily::kFf04Flash32K, 0, 1, 0, '0', false},
    {3, "645", "q649", "q645C1", 3, 0xA3, ChipFamily::kFf04Flash32K},
    {4, "649", "q649", "q649A0", 2, 0xA4, ChipFamily::kFf04Flash32K},
    {5, "649", "q649", "q649C0", 2, 0xA5, ChipFamily::kFf04Flash32K},
    {6, "649", "q649", "q649C3", 2, 0xA6, ChipFamily::kFf04Flash32K},
    {7, "649", "q649", "q649E0", 2, 0xA7, ChipFamily::kFf04Flash32K},
    {8, "639", "q639", "q639A0", 0, 0xA8, ChipFamily::kConfigType},
    {9, "662", "q662", "q662A0", 0, 0xA9, ChipFamily::kDf48K},
    {10, "663", "q663", "q663A0", 0, 0xAA, ChipFamily::kDf48K, 0, 1, 0, '0', false},
    {11, "665", "q665", "q665A0", 0, 0xAB, ChipFamily::kDf48K},
    {12, "666", "q666", "q666A0", 0, 0xAC, ChipFamily::kDf48K},
    {13, "857", "q857", "q857A0", 0, 0xC2, ChipFamily::kDf48K},
    {14, "647", "q647", "q647B0", 0, 0xC4, ChipFamily::kFf04Flash32K},
    {15, "647", "q647", "q647A1", 0, 0xAF, ChipFamily::kFf04Flash32K},
    {16, "647", "q647", "q647A3", 0, 0xB0, ChipFamily::kFf04Flash32K},
    {17, "819", "q819", "q819A0", 0, 0xB1, ChipFamily::kConfigType},
    {18, "829", "q829", "q829A0", 0, 0xB2, ChipFamily::kFf04Flash32K},
    {19, "843", "q843", "q843A0", 0, 0xB3, ChipFamily::kDf48K},
    {20, "879", "q879", "q879A0", 0, 0xB4, ChipFamily::kDf48K},
    {21, "871", "q871", "q871A0", 0, 0xB5, ChipFamily::kBuffer4K, 'a', 0, 1},
    {22, "872", "q872", "q872A0", 0, 0xB6, ChipFamily::kBuffer4K, 'b', 0, 1},
    {23, "873", "q873", "q873A0", 0, 0xB7, ChipFamily::kBuffer4K, 'c', 0, 1},
    {24, "875", "q875", "q875A0", 0, 0xB8, ChipFamily::kBuffer4K, 'e', 0, 1},
    {25, "887", "q887", "q887A0", 0, 0xB9, ChipFamily::kBuffer1K, 0, 1, 0},
    {26, "884", "q884", "q884A0", 0, 0xBA, ChipFamily::kBuffer1K, 0, 1, 0},
    {27, "891", "q891", "q891A0", 0, 0xBB, ChipFamily::kBuffer1K, 0, 1, 0},
    {28, "894", "q894", "q894A0", 0, 0xBC, ChipFamily::kBuffer1K, 0, 1, 0},
    {29, "646", "q646", "q646A0", 0, 0xBD, ChipFamily::kOtherFlash},
    {30, "647", "", "", 0, 0xBE, ChipFamily::kBootCodeOnly},
    {31, "648", "", "", 1, 0xBF, ChipFamily::kBootCodeOnly},
    {32, "649", "", "", 2, 0xC0, ChipFamily::kBootCodeOnly},
    {33, "645", "", "", 3, 0xC1, ChipFamily::kBootCodeOnly},
    {34, "646", "q646", "q646A0", 0, 0xBD, ChipFamily::kOtherFlash, 0, 1, 0, '0', false},
}};

// The row of a ChipType, or null outside 1..34.
const ChipModel* FindChipModel(uint8_t chipType);

// The older firmware generations answer E0 F4 E7 with bytes 0..11 only: their
// version is bytes 6-7 and nothing follows the revision digit. The later ones
// (7 and 18 among the 32 KB family, 8, 11-13, 17, 19-28) answer all 16 bytes.
inline constexpr std::array<uint8_t, 13> kShortChipInfoTypes = {1, 2,  3,  4,  5,  6, 9,
                                                                10, 14, 15, 16, 29, 34};
inline constexpr uint32_t kShortChipInfoLength = 12;
uint32_t ChipInfoLength(const ChipModel& model);

// FF 04 A0 block length: the QVS879 keeps 32 bytes, the others 20.
uint32_t ConfigBlockLength(const ChipModel& model);

// Where a running product firmware shows itself: a bit in register space,
// set at power-on unless an internal build runs.
struct RunningMark {
  uint8_t chipType;
  uint16_t address;
  uint8_t mask;
};
inline constexpr std::array<RunningMark, 9> kRunningMarks = {{
    {4, 0x7038, 0x01},
    {6, 0x7038, 0x01},
    {7, 0x7038, 0x01},
    {18, 0x7038, 0x01},
    {9, 0x7038, 0x04},
    {11, 0x7038, 0x04},
    {12, 0x7038, 0x04},
    {13, 0x7038, 0x10},
    {19, 0x70F3, 0x01},  // byte 3 of the 4-byte register at 0x70F0
}};

// The signature a product firmware carries besides the record every running
// firmware shows at register 0xC000: a record (55 AA AA 55, digits) in the
// configuration memory, or a header (55 AA "QV", digits) in the SPI flash.
enum class SignaturePlace : uint8_t { kConfigMemory, kFlashHeader };
struct FirmwareSignature {
  uint8_t chipType;
  SignaturePlace place;
  uint32_t address;
};
inline constexpr std::array<FirmwareSignature, 6> kFirmwareSignatures = {{
    {7, SignaturePlace::kFlashHeader, 0x4000},
    {18, SignaturePlace::kFlashHeader, 0x4000},
    {11, SignaturePlace::kConfigMemory, 0x1000},
    {12, SignaturePlace::kConfigMemory, 0x1000},
    {13, SignaturePlace::kConfigMemory, 0x1000},
    {19, SignaturePlace::kConfigMemory, 0xBC00 + 1008},
}};
inline constexpr std::array<uint8_t, 4> kSignatureMagic = {0x55, 0xAA, 0xAA, 0x55};
inline constexpr uint32_t kSignatureRecordLength = 10;

// Version bytes of the maker's internal builds where the family tells them
// from a product firmware by the version alone (the chip-information
// positions 6, 7, 12, 13, 14, 15; -1 keeps the product's byte).
struct InternalBuild {
  uint8_t chipType;
  std::array<int16_t, 6> bytes;
};
inline constexpr std::array<size_t, 6> kVersionPositions = {6, 7, 12, 13, 14, 15};
inline constexpr std::array<InternalBuild, 15> kInternalBuilds = {{
    {7, {-1, -1, 2, 0, 0, 0}},           // 2.00.00
    {18, {-1, -1, 2, 0, 0, 0}},
    {11, {7, 7, 0, 16, 0, 0}},           // 7.07.00.16.00
    {12, {11, 19, 2, 16, 0, 0}},         // 11.19.02.16.00
    {13, {2, 5, 11, 16, 0, 0}},          // 2.05.11.16.00
    {19, {-1, -1, '1', '0', '0', '1'}},  // 49.48.48.49
    {20, {-1, -1, 0, 0, 0, 1}},          // 00.00.00.01
    {21, {5, -1, -1, -1, -1, -1}},       // byte 6 neither 0 nor 3
    {22, {5, -1, -1, -1, -1, -1}},
    {23, {5, -1, -1, -1, -1, -1}},
    {24, {5, -1, -1, -1, -1, -1}},
    {25, {0, -1, -1, -1, -1, -1}},       // byte 6 zero
    {26, {0, -1, -1, -1, -1, -1}},
    {27, {0, -1, -1, -1, -1, -1}},
    {28, {0, -1, -1, -1, -1, -1}},
}};

// DF FA/FB reach the SPI flash itself (the image and its configuration area
// share it); otherwise they reach a separate configuration EEPROM.
bool ConfigMemoryInFlash(ChipFamily family);

// The READ/WRITE BUFFER answers: sim/firmware_download.h.

// The 16-byte chip-information block the model answers to E0 F4 E7 (of
// which ChipInfoLength bytes go out).
std::array<uint8_t, 16> DefaultChipInfo(const ChipModel& model,
                                        const uint8_t* firmwareVersion, size_t versionLength);

// The block as a product answers it: its firmware version bytes 12-15,
// bytes 6-7 when given (else the model's), and an internal build's bytes
// over them.
std::array<uint8_t, 16> ChipInfoFor(const ChipModel& model, const std::vector<uint8_t>& version,
                                    const std::vector<uint8_t>& infoVersion, bool internalCode);

}  // namespace sim
