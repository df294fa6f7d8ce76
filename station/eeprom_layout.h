// The EEPROM layouts of the 128-byte configuration block that the window
// prepares (OptionBlock): where the IDs, the string-index bytes, the option
// byte and the three string descriptors sit, how many characters each string
// may hold, and the default bytes of each layout. One table serves the
// EEPROM type handler and the settings collection.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "station/eeprom_default_table.h"
#include "station/settings_block.h"
#include "station/step_helpers.h"

namespace station {

// OptionOffsets entries, in their order.
enum OptionOffset : int {
  kVidOffset = 0,
  kPidOffset = 1,
  kManufacturerIndexOffset = 2,
  kProductIndexOffset = 3,
  kSerialIndexOffset = 4,
  kOptionByteOffset = 5,  // 0: the layout has no option byte
  kStringAOffset = 6,
  kStringAMax = 7,
  kStringBOffset = 8,
  kStringBMax = 9,
  kSerialOffset = 10,     // 0: the layout has no serial-number descriptor
  kSerialMax = 11,
  kOptionOffsetCount = 12,
};

// Which default table is in force (EepromLayoutIndex).
inline constexpr int32_t kLayoutIndexType1 = 0;  // also the QVS646 "Normal" layout
inline constexpr int32_t kLayoutIndexType2 = 2;
inline constexpr int32_t kLayoutIndexType3 = 3;

// A default table entry below 256 is the byte of that position; kKeepByte
// (the chip default tables' own marker) leaves the byte alone.
using LayoutDefaultTable = std::array<uint16_t, kOptionBlockSize>;

// The chip family the layouts are offered for.
enum class LayoutFamily : uint8_t { kStandard, kQvs646 };

struct EepromLayout {
  LayoutFamily family;
  int32_t item;  // EEPROMType item index
  std::string_view itemText;
  int32_t layoutIndex;
  std::array<int32_t, kOptionOffsetCount> offsets;
  bool singleByteText;  // 8-bit characters instead of UTF-16LE
  const LayoutDefaultTable* defaults;
};

// The layout of an EEPROMType item; none for an item the family lacks.
const EepromLayout* FindEepromLayout(LayoutFamily family, int32_t item);
std::span<const EepromLayout> EepromLayouts();

// The default tables, by layout: Type 1, Type 2, Type 3, QVS646 Normal.
const LayoutDefaultTable& Type1Defaults();
const LayoutDefaultTable& Type2Defaults();
const LayoutDefaultTable& Type3Defaults();
const LayoutDefaultTable& Qvs646NormalDefaults();

// Whether the layout the settings describe (OptionOffsets, TableType) leaves
// byte `position` of the block to the chip's own option bits: none of its
// IDs, string-index bytes or string descriptors lies on it. The chips'
// fixed option places suit Type 3; in Type 1 and Type 2 some of them are
// the PID or inside the UTF-16 texts.
[[nodiscard]] bool LayoutLeavesByte(const SettingsBlock& settings, size_t position);

// Bytes 0-3 cleared, then every position whose entry is a byte takes it.
void LoadLayoutDefaults(uint8_t (&block)[kOptionBlockSize], const LayoutDefaultTable& table);

// The layout's positions into the settings; `withOptionByte` false keeps
// entry [5], which the collection never sets.
void ApplyLayoutOffsets(SettingsBlock& settings, const EepromLayout& layout, bool withOptionByte);

// One USB string descriptor at `offset`: `clearBytes` after the two header
// bytes cleared, the length byte 2n + 2 (4 for an empty text), the type byte
// 3, then the characters (UTF-16LE or single bytes). Nothing is written at
// offset 0 (no such descriptor) or past the block.
void WriteStringDescriptor(uint8_t (&block)[kOptionBlockSize], int32_t offset,
                           std::string_view text, int32_t clearBytes, bool singleByte);
// The length byte 4 that marks an unset string.
void MarkStringUnset(uint8_t (&block)[kOptionBlockSize], int32_t offset);

// A 16-bit value, low byte first; nothing written past the block.
void StoreId(uint8_t (&block)[kOptionBlockSize], int32_t offset, uint16_t value);
// One byte of the block; nothing written outside it.
void StoreByte(uint8_t (&block)[kOptionBlockSize], int32_t offset, uint8_t value);
[[nodiscard]] uint8_t ByteAt(const uint8_t (&block)[kOptionBlockSize], int32_t offset);

}  // namespace station
