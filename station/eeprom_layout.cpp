#include "station/eeprom_layout.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/byte_order.h"

namespace station {
namespace {

// Builds a default table from its byte runs; everything else is kept.
struct TableBuilder {
  LayoutDefaultTable table{};

  constexpr TableBuilder() {
    for (uint16_t& entry : table) entry = kKeepByte;
  }
  constexpr TableBuilder& Bytes(int at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) table[static_cast<size_t>(at++)] = b;
    return *this;
  }
  constexpr TableBuilder& Fill(int first, int last, uint8_t value) {
    for (int i = first; i <= last; ++i) table[static_cast<size_t>(i)] = value;
    return *this;
  }
  // The high bytes of UTF-16 characters: every odd position of the range.
  constexpr TableBuilder& ZeroOdd(int first, int last) {
    for (int i = first; i <= last; i += 2) table[static_cast<size_t>(i)] = 0;
    return *this;
  }
  constexpr TableBuilder& Signature(char a, char b) {
    table[126] = static_cast<uint8_t>(a);
    table[127] = static_cast<uint8_t>(b);
    return *this;
  }
};

// A USB device descriptor whose VID, PID and release (8-13) come from the
// edits.
constexpr TableBuilder DeviceDescriptor(uint8_t serialIndex) {
  TableBuilder t;
  t.Bytes(0, {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40});
  t.Bytes(14, {0x0A, 0x0B, serialIndex, 0x01});
  return t;
}

constexpr LayoutDefaultTable kType1 = DeviceDescriptor(0x05)
                                          .Fill(18, 19, 0x00)
                                          .Bytes(21, {0x03})
                                          .ZeroOdd(23, 63)
                                          .Bytes(65, {0x03})
                                          .ZeroOdd(67, 107)
                                          .Fill(108, 125, 0x00)
                                          .Signature('Q', 'V')
                                          .table;

constexpr LayoutDefaultTable kType2 = TableBuilder()
                                          .Bytes(6, {0x0A, 0x0B, 0x03, 0x01, 0x00, 0x00})
                                          .Bytes(13, {0x03})
                                          .ZeroOdd(15, 51)
                                          .Bytes(53, {0x03})
                                          .ZeroOdd(55, 95)
                                          .Bytes(97, {0x03})
                                          .ZeroOdd(99, 123)
                                          .Bytes(124, {0x08, 0xB6})
                                          .Signature('Q', 'V')
                                          .table;

constexpr LayoutDefaultTable kType3 = TableBuilder()
                                          .Bytes(6, {0x0A, 0x0B, 0x03, 0x01, 0x00, 0x00})
                                          .Bytes(13, {0x03})
                                          .Fill(45, 47, 0x00)
                                          .Bytes(49, {0x03})
                                          .Fill(81, 83, 0x00)
                                          .Bytes(85, {0x03})
                                          .Fill(117, 123, 0x00)
                                          .Bytes(124, {0x08, 0xC0})
                                          .Signature('Q', 'V')
                                          .table;

constexpr LayoutDefaultTable kQvs646Normal = DeviceDescriptor(0x0C)
                                                 .Fill(18, 23, 0x00)
                                                 .Bytes(25, {0x03})
                                                 .Fill(48, 55, 0x00)
                                                 .Bytes(57, {0x03})
                                                 .Fill(80, 87, 0x00)
                                                 .Bytes(89, {0x03})
                                                 .Fill(112, 125, 0x00)
                                                 .Signature('Q', 'R')
                                                 .table;

//                 VID PID  A-ix B-ix S-ix opt  A-at A-max B-at B-max S-at S-max
// Type 1 has no serial-number descriptor: the serial goes out through the
// string-index byte alone, and the bytes a serial at 96 would cover belong
// to string B. Type 2's string A holds 18 characters, as choosing the type
// limits its edit, and not 19: its area, from 12 up to string B at 52,
// would hold 19 (12 + 2 + 19 x 2 = 52), so 18 stays inside it and leaves
// 50-51 unused. The EEPROM type handler and the collection both take the
// maximum from this row, so the worker never writes more than the edit took.
constexpr EepromLayout kLayouts[] = {
    {.family = LayoutFamily::kStandard, .item = 0, .itemText = "Type 1",
     .layoutIndex = kLayoutIndexType1,
     .offsets = {8, 10, 14, 15, 16, 0, 20, 21, 64, 21, 0, 0},
     .singleByteText = false, .defaults = &kType1},
    {.family = LayoutFamily::kStandard, .item = 1, .itemText = "Type 2",
     .layoutIndex = kLayoutIndexType2,
     .offsets = {0, 2, 6, 7, 8, 0, 12, 18, 52, 21, 96, 13},
     .singleByteText = false, .defaults = &kType2},
    {.family = LayoutFamily::kStandard, .item = 2, .itemText = "Type 3",
     .layoutIndex = kLayoutIndexType3,
     .offsets = {0, 2, 6, 7, 8, 10, 12, 30, 48, 30, 84, 30},
     .singleByteText = true, .defaults = &kType3},
    {.family = LayoutFamily::kQvs646, .item = 0, .itemText = "Normal",
     .layoutIndex = kLayoutIndexType1,
     .offsets = {8, 10, 14, 15, 16, 0, 24, 22, 56, 22, 88, 22},
     .singleByteText = true, .defaults = &kQvs646Normal},
    {.family = LayoutFamily::kQvs646, .item = 1, .itemText = "Type 3",
     .layoutIndex = kLayoutIndexType3,
     .offsets = {0, 2, 6, 7, 8, 10, 12, 31, 48, 31, 84, 31},
     .singleByteText = true, .defaults = &kType3},
};

// Every descriptor of every layout, header and text, stays inside its slot
// and inside the block.
constexpr bool DescriptorsFit() {
  for (const EepromLayout& l : kLayouts) {
    const int width = l.singleByteText ? 1 : 2;
    const int32_t at[3] = {l.offsets[kStringAOffset], l.offsets[kStringBOffset], l.offsets[kSerialOffset]};
    const int32_t max[3] = {l.offsets[kStringAMax], l.offsets[kStringBMax], l.offsets[kSerialMax]};
    for (int i = 0; i < 3; ++i) {
      if (at[i] == 0) continue;
      const int32_t end = at[i] + 2 + max[i] * width;
      if (end > 124) return false;  // the flag bytes and the signature stay
      for (int j = 0; j < 3; ++j)
        if (at[j] > at[i] && end > at[j]) return false;
    }
  }
  return true;
}
static_assert(DescriptorsFit());

constexpr int32_t kBlockSize = static_cast<int32_t>(kOptionBlockSize);

bool Inside(int32_t offset, int32_t length = 1) {
  return offset >= 0 && length >= 0 && offset + length <= kBlockSize;
}

}  // namespace

const LayoutDefaultTable& Type1Defaults() { return kType1; }
const LayoutDefaultTable& Type2Defaults() { return kType2; }
const LayoutDefaultTable& Type3Defaults() { return kType3; }
const LayoutDefaultTable& Qvs646NormalDefaults() { return kQvs646Normal; }

std::span<const EepromLayout> EepromLayouts() { return kLayouts; }

const EepromLayout* FindEepromLayout(LayoutFamily family, int32_t item) {
  for (const EepromLayout& layout : kLayouts)
    if (layout.family == family && layout.item == item) return &layout;
  return nullptr;
}

bool LayoutLeavesByte(const SettingsBlock& settings, size_t position) {
  const int32_t(&at)[kOptionOffsetCount] = settings.OptionOffsets;
  const auto p = static_cast<int32_t>(position);
  const auto covers = [p](int32_t offset, int32_t length) { return p >= offset && p - offset < length; };
  if (covers(at[kVidOffset], 2) || covers(at[kPidOffset], 2)) return false;
  for (const int index : {kManufacturerIndexOffset, kProductIndexOffset, kSerialIndexOffset})
    if (p == at[index]) return false;
  // The texts are single bytes in Type 3, else UTF-16.
  const int32_t width = settings.TableType == 3 ? 1 : 2;
  const std::pair<int, int> descriptors[] = {
      {kStringAOffset, kStringAMax}, {kStringBOffset, kStringBMax}, {kSerialOffset, kSerialMax}};
  for (const auto& [offset, max] : descriptors)
    if (at[offset] > 0 && covers(at[offset], 2 + std::max(at[max], 0) * width)) return false;
  return true;
}

void LoadLayoutDefaults(uint8_t (&block)[kOptionBlockSize], const LayoutDefaultTable& table) {
  std::memset(block, 0, 4);
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i] < 256) block[i] = static_cast<uint8_t>(table[i]);
}

void ApplyLayoutOffsets(SettingsBlock& settings, const EepromLayout& layout, bool withOptionByte) {
  for (int i = 0; i < kOptionOffsetCount; ++i)
    if (i != kOptionByteOffset || withOptionByte) settings.OptionOffsets[i] = layout.offsets[static_cast<size_t>(i)];
}

void WriteStringDescriptor(uint8_t (&block)[kOptionBlockSize], int32_t offset,
                           std::string_view text, int32_t clearBytes, bool singleByte) {
  if (offset <= 0 || !Inside(offset, 2)) return;
  const int32_t room = kBlockSize - offset - 2;
  clearBytes = std::clamp(clearBytes, 0, room);
  std::memset(block + offset + 2, 0, static_cast<size_t>(clearBytes));
  const int32_t width = singleByte ? 1 : 2;
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(text.size()), clearBytes / width);
  block[offset] = static_cast<uint8_t>(n == 0 ? 4 : 2 * n + 2);
  block[offset + 1] = 3;
  for (int32_t i = 0; i < n; ++i) block[offset + 2 + i * width] = static_cast<uint8_t>(text[static_cast<size_t>(i)]);
}

void MarkStringUnset(uint8_t (&block)[kOptionBlockSize], int32_t offset) {
  if (offset > 0) StoreByte(block, offset, 4);
}

void StoreId(uint8_t (&block)[kOptionBlockSize], int32_t offset, uint16_t value) {
  if (Inside(offset, 2)) platform::PutLittleEndian16(block + offset, value);
}

void StoreByte(uint8_t (&block)[kOptionBlockSize], int32_t offset, uint8_t value) {
  if (Inside(offset)) block[offset] = value;
}

uint8_t ByteAt(const uint8_t (&block)[kOptionBlockSize], int32_t offset) {
  return Inside(offset) ? block[offset] : 0;
}

}  // namespace station
