#include "station/eeprom_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace station {
namespace {

using Block = uint8_t[kOptionBlockSize];

TEST(EepromLayoutTest, DescriptorHeaderTextAndClearedTail) {
  struct Case {
    const char* text;
    int32_t clearBytes;
    bool singleByte;
    std::vector<uint8_t> head;  // from the offset on
  };
  const Case cases[] = {
      // An empty text is the unset marker: length 4.
      {"", 4, false, {4, 3, 0, 0, 0, 0}},
      {"AB", 6, false, {6, 3, 'A', 0, 'B', 0, 0, 0}},
      {"AB", 3, true, {6, 3, 'A', 'B', 0}},
      // Longer than the slot: cut to what the cleared bytes hold.
      {"ABCD", 3, true, {8, 3, 'A', 'B', 'C', 0xEE}},
      {"ABCD", 4, false, {6, 3, 'A', 0, 'B', 0, 0xEE}},
  };
  for (const Case& c : cases) {
    Block block;
    std::memset(block, 0xEE, sizeof block);
    WriteStringDescriptor(block, 40, c.text, c.clearBytes, c.singleByte);
    for (size_t i = 0; i < c.head.size(); ++i)
      EXPECT_EQ(block[40 + i], c.head[i]) << c.text << " byte " << i;
    EXPECT_EQ(block[39], 0xEE) << c.text;
  }
}

TEST(EepromLayoutTest, NoByteWrittenOutsideTheBlockOrAtOffsetZero) {
  Block block;
  std::memset(block, 0xEE, sizeof block);
  WriteStringDescriptor(block, 0, "none", 8, true);  // offset 0: no descriptor
  WriteStringDescriptor(block, 124, "ABCDEFGH", 60, true);
  WriteStringDescriptor(block, 127, "A", 2, false);
  StoreId(block, 127, 0x1234);
  StoreByte(block, -1, 1);
  StoreByte(block, 128, 1);
  Block expected;
  std::memset(expected, 0xEE, sizeof expected);
  const uint8_t tail[] = {6, 3, 'A', 'B'};  // at 124: two characters fit
  std::memcpy(expected + 124, tail, sizeof tail);
  EXPECT_EQ(0, std::memcmp(block, expected, sizeof block));
}

// Every layout's string slots hold their maximum without reaching the next
// slot, the flag bytes 124-125 or the signature.
TEST(EepromLayoutTest, FullStringsStayInTheirSlots) {
  for (const EepromLayout& layout : EepromLayouts()) {
    Block block;
    std::memset(block, 0, sizeof block);
    LoadLayoutDefaults(block, *layout.defaults);
    Block before;
    std::memcpy(before, block, sizeof block);
    const int width = layout.singleByteText ? 1 : 2;
    const int slots[3][2] = {{kStringAOffset, kStringAMax}, {kStringBOffset, kStringBMax}, {kSerialOffset, kSerialMax}};
    for (const auto& slot : slots) {
      const int32_t at = layout.offsets[static_cast<size_t>(slot[0])];
      const int32_t max = layout.offsets[static_cast<size_t>(slot[1])];
      WriteStringDescriptor(block, at, std::string(80, 'Z'), max * width, layout.singleByteText);
    }
    EXPECT_EQ(0, std::memcmp(block + 124, before + 124, 4)) << layout.itemText;
  }
}

TEST(EepromLayoutTest, TypeOneHasNoSerialDescriptor) {
  const EepromLayout* type1 = FindEepromLayout(LayoutFamily::kStandard, 0);
  ASSERT_NE(type1, nullptr);
  EXPECT_EQ(type1->offsets[kSerialOffset], 0);
  EXPECT_EQ(type1->offsets[kSerialMax], 0);
  EXPECT_EQ(FindEepromLayout(LayoutFamily::kQvs646, 2), nullptr);
  EXPECT_EQ(FindEepromLayout(LayoutFamily::kStandard, -1), nullptr);
}

}  // namespace
}  // namespace station
