// The per-chip default configuration bytes and where a firmware image
// carries its own configuration.
//
// A table has one entry per byte of the 128-byte configuration block: an
// entry below 256 is the byte to put there, kKeepByte leaves the byte as the
// caller had it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "bridge/chip_identification.h"

namespace station {

inline constexpr size_t kConfigBlockSize = 128;
inline constexpr size_t kConfigPageSize = 256;
inline constexpr uint32_t kKeepByte = 4095;

using EepromTable = std::array<uint32_t, kConfigBlockSize>;

struct TableByte {
  uint8_t position;
  uint8_t value;
};

// A table holding `bytes` and kKeepByte everywhere else.
constexpr EepromTable MakeEepromTable(std::initializer_list<TableByte> bytes) {
  EepromTable table{};
  for (uint32_t& entry : table) entry = kKeepByte;
  for (const TableByte& b : bytes) table[b.position] = b.value;
  return table;
}

inline constexpr EepromTable kEepromTableChip13 = MakeEepromTable({
    {4, 0x00},   {5, 0x01},   {9, 0x01},   {11, 0x00},  {13, 0x03},  {47, 0x30},  {49, 0x03},
    {81, 0x00},  {82, 0x7B},  {83, 0x02},  {85, 0x03},  {117, 0x00}, {118, 0xFF}, {119, 0x41},
    {120, 0xFF}, {121, 0xFF}, {122, 0x00}, {123, 0x01}, {124, 0x31}, {125, 0xB0}, {126, 'Q'},
    {127, 'V'},
});

inline constexpr EepromTable kEepromTableOther = MakeEepromTable({
    {4, 0x00},   {5, 0x01},   {9, 0x01},   {11, 0x00},  {13, 0x03},  {47, 0x30},  {49, 0x03},
    {81, 0x00},  {82, 0x7B},  {83, 0x02},  {85, 0x03},  {117, 0x00}, {118, 0x00}, {119, 0x00},
    {120, 0x00}, {121, 0x00}, {122, 0x00}, {123, 0x00}, {124, 0x00}, {125, 0x00}, {126, 0x00},
    {127, 0x00},
});

inline constexpr EepromTable kEepromTableChip20 = MakeEepromTable({
    {9, 0x01},   {11, 0x00},  {13, 0x03},  {45, 0x00},  {46, 0x00},  {47, 0x00},  {49, 0x03},
    {81, 0x00},  {82, 0x00},  {83, 0x00},  {85, 0x03},  {117, 0x00}, {118, 0x00}, {119, 0x00},
    {120, 0x00}, {121, 0x00}, {122, 0x00}, {123, 0x00}, {124, 0x00}, {125, 0x00}, {126, 0x00},
    {127, 0x00},
});

// ChipTypes 25 to 28 have equal tables.
inline constexpr std::initializer_list<TableByte> kLaterFamilyBytes = {
    {9, 0x01},   {11, 0x00},  {13, 0x03},  {49, 0x03},  {85, 0x03},  {117, 0x00}, {118, 0x00},
    {119, 0x00}, {120, 0x00}, {121, 0x00}, {122, 0x00}, {123, 0x00}, {124, 0x00}, {125, 0x00},
    {126, 0x00}, {127, 0x00},
};
inline constexpr EepromTable kEepromTableChip25 = MakeEepromTable(kLaterFamilyBytes);
inline constexpr EepromTable kEepromTableChip26 = MakeEepromTable(kLaterFamilyBytes);
inline constexpr EepromTable kEepromTableChip27 = MakeEepromTable(kLaterFamilyBytes);
inline constexpr EepromTable kEepromTableChip28 = MakeEepromTable(kLaterFamilyBytes);

// The table of a ChipType.
constexpr const EepromTable& EepromDefaultTable(bridge::ChipType chipType) {
  switch (chipType) {
    case 13: return kEepromTableChip13;
    case 20: return kEepromTableChip20;
    case 25: return kEepromTableChip25;
    case 26: return kEepromTableChip26;
    case 27: return kEepromTableChip27;
    case 28: return kEepromTableChip28;
    default: return kEepromTableOther;
  }
}

// Where a firmware image of the ChipType keeps its 256-byte configuration
// page, and the place of the maker signature "QV" that marks one as present.
struct ImageConfigPlace {
  uint32_t offset;
  uint32_t signature;
};

constexpr ImageConfigPlace ImageConfigPlaceOf(bridge::ChipType chipType) {
  switch (chipType) {
    case 13: return {0x0000, 0x007E};
    case 25:
    case 26: return {0xC400, 0xC4FE};
    case 27:
    case 28: return {0x10400, 0x104FE};
    default: return {0xC000, 0xC0FE};
  }
}

inline constexpr uint8_t kMakerSignature[2] = {'Q', 'V'};

}  // namespace station
