// Which bridge controller model sits behind a storage device: the ChipType
// that every firmware, version and configuration decision switches on, and
// for some models the silicon revision.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace bridge {

// 0: not a known bridge. 1..34: a row of kChipModelDigits.
using ChipType = uint8_t;
inline constexpr ChipType kChipTypeNone = 0;
inline constexpr ChipType kLastChipType = 34;
// 30..33: a bridge running only its boot code, by its bridge id class 0..3.
inline constexpr ChipType kBootCodeChipTypeBase = 30;

// The model's three-digit chip number per ChipType; the detail view shows a
// model as "QV41" followed by it. Row 0 is "No".
inline constexpr std::array<std::string_view, kLastChipType + 1> kChipModelDigits = {
    "No",                                                   // 0
    "645", "645", "645", "649", "649", "649", "649",        // 1-7
    "639", "662", "663", "665", "666", "857",               // 8-13
    "647", "647", "647", "819", "829", "843", "879",        // 14-20
    "871", "872", "873", "875", "887", "884", "891", "894", // 21-28
    "646", "647", "648", "649", "645", "646",               // 29-34
};

// The row digits of a ChipType; "No" for 0 and for values beyond the table.
constexpr std::string_view ChipModelDigits(unsigned chipType) {
  return chipType < kChipModelDigits.size() ? kChipModelDigits[chipType] : kChipModelDigits[0];
}

// Chip numbers that identify a model, as the INQUIRY chip code ('q' and the
// digits, INQUIRY bytes 36..39) or as the digits of the chip-information
// block (bytes 8..10).
struct ChipNumber {
  std::string_view digits;
  ChipType chipType;
};
inline constexpr std::array<ChipNumber, 21> kChipNumbers = {{
    {"645", 1},  {"646", 29}, {"647", 14}, {"649", 4},  {"639", 8},  {"662", 9},  {"819", 17},
    {"829", 18}, {"665", 11}, {"666", 12}, {"857", 13}, {"843", 19}, {"879", 20}, {"871", 21},
    {"872", 22}, {"873", 23}, {"875", 24}, {"887", 25}, {"891", 27}, {"884", 26}, {"894", 28},
}};

// The drive behind these bridges answers IDENTIFY through SAT ATA
// PASS-THROUGH rather than the bridge's own tunnel.
constexpr bool UsesSatIdentify(unsigned chipType) {
  return (chipType >= 19 && chipType <= 22) || (chipType >= 25 && chipType <= 28);
}

inline constexpr uint32_t kInquiryIdentifyLength = 40;
inline constexpr uint32_t kChipInfoLength = 16;
inline constexpr uint32_t kRevisionBlockLength = 40;
inline constexpr uint32_t kConfigTypeLength = 20;

ChipType IdentifyChipType(const char* devicePath);

// The identification word: ChipType in the low byte, silicon revision in the
// high byte (0 when none was found).
[[nodiscard]] uint16_t IdentifyChipTypeAndRevision(const char* devicePath);
constexpr ChipType ChipTypeOf(uint16_t identification) {
  return static_cast<ChipType>(identification & 0xFF);
}
constexpr uint8_t RevisionOf(uint16_t identification) {
  return static_cast<uint8_t>(identification >> 8);
}

// 1 when the chip-information block reads and its bytes 6 and 7 are 2 and 0.
[[nodiscard]] int IsChipInfoVersion2(const char* devicePath);

// The configuration-table type from byte 8 of the 20-byte configuration
// block (negative for bytes below 0xA0); 0 when the block cannot be read.
[[nodiscard]] int ReadConfigType(const char* devicePath);

// ChipType 8 only: 1 when the configuration block carries the 0xAB / 0xD2
// layout marks. 0 for every other ChipType, without a command.
[[nodiscard]] int CheckConfigSignature(const char* devicePath, ChipType chipType);

}  // namespace bridge
