// Which SPI flash part sits beside a bridge (its maker and erase geometry),
// learnt from the type code the bridge firmware reports or from the flash's
// own id replies, and the preparation of that flash before the FF 04
// programming flows run.
#pragma once

#include <array>
#include <cstdint>

#include "bridge/chip_identification.h"

namespace bridge {

// Index of the fitted flash family; selects erase units and the maker shown.
using SpiFlashType = uint8_t;
inline constexpr SpiFlashType kSpiFlashTypeUnknown = 255;

// The bridge firmware's type code c stands for SpiFlashType c + 2; code 0
// (and a code whose type would not fit) means unknown.
constexpr SpiFlashType SpiFlashTypeFromCode(uint8_t code) {
  return code == 0 || code > kSpiFlashTypeUnknown - 2 ? kSpiFlashTypeUnknown
                                                      : static_cast<SpiFlashType>(code + 2);
}

// What detection learns: the opcodes the firmware is to use and the type.
struct SpiFlashRecord {
  uint8_t chipErase = 0xC7;
  uint8_t blockErase = 0xD8;  // 32 KB block
  uint8_t program = 0x02;
  uint8_t sectorErase = 0x20;
  SpiFlashType type = kSpiFlashTypeUnknown;
};

// Opcodes a matching id changes; 0 keeps the record's opcode.
struct OpcodeChange {
  uint8_t chipErase = 0;
  uint8_t blockErase = 0;
  uint8_t program = 0;
  uint8_t sectorErase = 0;
};

// The values one id byte may take for a row to match; no values: any.
struct IdByte {
  uint8_t count = 0;
  std::array<uint8_t, 3> values{};

  constexpr bool Matches(uint8_t byte) const {
    if (count == 0) return true;
    for (uint8_t i = 0; i < count; ++i)
      if (values[i] == byte) return true;
    return false;
  }
};
constexpr IdByte AnyByte() { return {}; }
constexpr IdByte Is(uint8_t a) { return {1, {a, 0, 0}}; }
constexpr IdByte OneOf(uint8_t a, uint8_t b) { return {2, {a, b, 0}}; }
constexpr IdByte OneOf(uint8_t a, uint8_t b, uint8_t c) { return {3, {a, b, c}}; }

// One row of an id table over the first three id bytes; first match wins.
struct FlashIdRow {
  IdByte b0, b1, b2;
  SpiFlashType type = kSpiFlashTypeUnknown;
  OpcodeChange change{};
};

// JEDEC READ ID (9F) as the flash answers it.
inline constexpr std::array<FlashIdRow, 14> kJedecIdTable = {{
    {Is(0x7F), Is(0x37), AnyByte(), 9},
    {Is(0x37), Is(0x30), AnyByte(), 9},
    {Is(0x1F), AnyByte(), AnyByte(), 6},
    {Is(0xC2), AnyByte(), AnyByte(), 7},
    {Is(0xEF), AnyByte(), AnyByte(), 8},
    {Is(0x20), AnyByte(), AnyByte(), 5},
    {Is(0x1C), AnyByte(), AnyByte(), 10},
    {Is(0x8C), AnyByte(), AnyByte(), 11},
    {Is(0x7F), Is(0x9D), AnyByte(), 3},
    {Is(0x62), AnyByte(), AnyByte(), 12, {0, 0, 0, 0xD7}},
    {Is(0xC8), AnyByte(), AnyByte(), 13, {0, 0x52, 0, 0}},
    {Is(0xA1), AnyByte(), AnyByte(), 14},
    {Is(0x9D), Is(0x40), AnyByte(), 15},
    {Is(0xE0), Is(0x40), AnyByte(), 16},
}};

// The same through the bridge's 4-byte parameter query (ChipTypes 21-24):
// the table above with its 9D row widened to 9D 60 and the later parts
// added. E0 40 10 stands before E0 40, which would otherwise shadow it.
inline constexpr std::array<FlashIdRow, 19> kParamIdTable = {{
    {Is(0x7F), Is(0x37), AnyByte(), 9},
    {Is(0x37), Is(0x30), AnyByte(), 9},
    {Is(0x1F), AnyByte(), AnyByte(), 6},
    {Is(0xC2), AnyByte(), AnyByte(), 7},
    {Is(0xEF), AnyByte(), AnyByte(), 8},
    {Is(0x20), AnyByte(), AnyByte(), 5},
    {Is(0x1C), AnyByte(), AnyByte(), 10},
    {Is(0x8C), AnyByte(), AnyByte(), 11},
    {Is(0x7F), Is(0x9D), AnyByte(), 3},
    {Is(0x62), AnyByte(), AnyByte(), 12, {0, 0, 0, 0xD7}},
    {Is(0xC8), AnyByte(), AnyByte(), 13, {0, 0x52, 0, 0}},
    {Is(0xA1), AnyByte(), AnyByte(), 14},
    {Is(0x9D), OneOf(0x40, 0x60), AnyByte(), 15},
    {Is(0xE0), Is(0x40), Is(0x10), 17},
    {Is(0xE0), Is(0x40), AnyByte(), 16},
    {Is(0x0B), Is(0x40), Is(0x13), 19},
    {AnyByte(), Is(0x40), OneOf(0x13, 0x11), 18},
    {Is(0x85), Is(0x60), AnyByte(), 20},
    {Is(0x68), Is(0x40), AnyByte(), 18},
}};

// The id bytes as the bridge firmware reports them (ChipTypes 25-28).
inline constexpr std::array<FlashIdRow, 8> kReportedIdTable = {{
    {Is(0xC8), AnyByte(), AnyByte(), 13, {0, 0x52, 0, 0}},
    {OneOf(0x7F, 0x9D), OneOf(0x40, 0x60, 0x9D), AnyByte(), 15},
    {OneOf(0x68, 0x0E), Is(0x40), OneOf(0x13, 0x11), 18},
    {Is(0xE0), Is(0x40), Is(0x10), 17},
    {Is(0xE0), Is(0x40), AnyByte(), 16},
    {Is(0x85), Is(0x60), AnyByte(), 20},
    {Is(0x0B), Is(0x40), Is(0x13), 19},
    {Is(0x68), Is(0x40), AnyByte(), 18},
}};

// The first row matching `id` (3 bytes), or null.
template <size_t N>
constexpr const FlashIdRow* MatchFlashId(const std::array<FlashIdRow, N>& table,
                                         const uint8_t* id) {
  for (const FlashIdRow& row : table)
    if (row.b0.Matches(id[0]) && row.b1.Matches(id[1]) && row.b2.Matches(id[2])) return &row;
  return nullptr;
}

// The older id commands tried, in order, while READ ID has decided nothing.
enum class IdSource : uint8_t {
  kSpiOpcode,  // the opcode clocked to the flash, 4 reply bytes
  kParam3,     // the bridge's 3-byte parameter query
  kParam4,     // the bridge's 4-byte parameter query
};
struct IdAnswer {
  uint8_t byteIndex = 0;
  uint8_t value = 0;
  SpiFlashType type = kSpiFlashTypeUnknown;
  OpcodeChange change{};
};
struct IdProbe {
  IdSource source = IdSource::kSpiOpcode;
  uint8_t opcode = 0;
  bool wide = false;
  uint8_t answerCount = 0;
  std::array<IdAnswer, 2> answers{};
};

inline constexpr OpcodeChange kSstOpcodes = {0x60, 0x52, 0xAF, 0};
inline constexpr OpcodeChange kAtmelOpcodes = {0x62, 0x52, 0x02, 0};

inline constexpr std::array<IdProbe, 5> kSpiIdProbes = {{
    {IdSource::kSpiOpcode, 0x90, false, 1, {{{3, 0xBF, 4, kSstOpcodes}}}},
    {IdSource::kSpiOpcode, 0xAB, false, 2, {{{3, 0x9D, 3}, {3, 0x05, 5}}}},
    {IdSource::kSpiOpcode, 0x15, false, 1, {{{0, 0x1F, 6, kAtmelOpcodes}}}},
    {IdSource::kParam3, 0x15, false, 1, {{{0, 0x1F, 6, kAtmelOpcodes}}}},
    {IdSource::kParam3, 0xAB, true, 1, {{{0, 0x05, 5}}}},
}};

inline constexpr std::array<IdProbe, 4> kParamIdProbes = {{
    {IdSource::kParam4, 0x90, false, 1, {{{3, 0xBF, 4, kSstOpcodes}}}},
    {IdSource::kParam4, 0xAB, true, 2, {{{3, 0x9D, 3}, {3, 0x05, 5}}}},
    {IdSource::kParam4, 0x15, false, 1, {{{0, 0x1F, 6, kAtmelOpcodes}}}},
    {IdSource::kParam4, 0xAB, true, 1, {{{0, 0x05, 5}}}},
}};

inline constexpr uint8_t kSpiReadId = 0x9F;
inline constexpr uint32_t kSpiIdLength = 4;

// Reads FlashReadStatus until (status & mask) == want: up to `reads` reads,
// 10 ms apart. A read that fails never satisfies. 1 when satisfied.
[[nodiscard]] int WaitFlashStatus(const char* devicePath, uint8_t mask, uint8_t want, int reads);

SpiFlashType GetSpiFlashType(ChipType chipType, const char* devicePath);

// The flash maker as the station shows it, by SpiFlashType; "Unknown" for
// a type without a name.
inline constexpr std::array<const char*, 21> kSpiFlashVendorNames = {
    nullptr, nullptr, nullptr, "PMC/ISSI", "SST", "ST/EON/MXIC/ISSI/FUDAN/BERG", "ATMEL",
    "MXIC/KH", "WINBOND", "AMIC", "EON", "ESMT", "SANYO", "GIGADEVICE",
    "VPOWERWINS/SHANGHAI FUDAN", "PMC/ISSI", "BOYA/BERG", "BERG", "ACE/BOHONG", "XTX", "PUYA",
};
constexpr const char* SpiFlashVendorName(SpiFlashType type) {
  return type < kSpiFlashVendorNames.size() && kSpiFlashVendorNames[type] != nullptr
             ? kSpiFlashVendorNames[type]
             : "Unknown";
}
// ChipTypes whose flash maker is shown as "Unknown" without asking.
constexpr bool FlashVendorUnasked(ChipType chipType) { return chipType == 8 || chipType == 17; }


// Each starts from the default record; 1 when some row decided.
[[nodiscard]] int DetectSpiFlashType(const char* devicePath, SpiFlashRecord* record);
[[nodiscard]] int DetectSpiFlashTypeByParam(const char* devicePath, SpiFlashRecord* record);
[[nodiscard]] int DetectSpiFlashTypeFromId(const char* devicePath, SpiFlashRecord* record);

// The flash of ChipTypes 1-3 and 15 holds at most this much firmware, and so
// do those of 4-7, 16 and 18.
inline constexpr uint32_t kFf04ImageLimit = 0x8000;

// 1 when the FF 04 programming flows may run for this device; `imageLength`
// is that of the loaded firmware image. Hands the detected opcodes to the
// firmware and clears write protection where the part needs it.
[[nodiscard]] int PrepareSpiFlash(ChipType chipType, const char* devicePath, uint32_t imageLength);

// Write enable (06) and a zero status write (01 00), each followed by a
// status wait of at most kProtectionWaitReads reads.
inline constexpr int kProtectionWaitReads = 301;
[[nodiscard]] int SpiWriteEnable(const char* devicePath);
[[nodiscard]] int SpiWriteStatusZero(const char* devicePath);
[[nodiscard]] int ClearFlashProtection(const char* devicePath);

}  // namespace bridge
