#include "station/settings_collection.h"

#include <gtest/gtest.h>

#include "station/eeprom_layout.h"

namespace station {
namespace {

TEST(SettingsCollectionTest, ChoiceValuesWithoutASelectionAreZero) {
  EXPECT_EQ(CapacityOfItem(1), 1);
  EXPECT_EQ(CapacityOfItem(13), 2000);
  EXPECT_EQ(CapacityOfItem(-1), 0);
  EXPECT_EQ(CapacityOfItem(14), 0);
  EXPECT_EQ(ClusterSizeOfItem(3), 32768);
  EXPECT_EQ(ClusterSizeOfItem(-1), 0);
}

TEST(SettingsCollectionTest, NumberTexts) {
  EXPECT_EQ(ConvertHex("6A3E"), 0x6A3E);
  EXPECT_EQ(ConvertHex("0006a3e"), 0x6A3E);
  EXPECT_EQ(ConvertHex(""), std::nullopt);
  EXPECT_EQ(ConvertHex("12G4"), std::nullopt);
  EXPECT_EQ(ConvertHex("123456789"), std::nullopt);  // past 32 bits
  EXPECT_EQ(ConvertInteger("-12"), -12);
  EXPECT_EQ(ConvertInteger("1 2"), std::nullopt);
  EXPECT_EQ(NumberOrZero("abc"), 0);
  EXPECT_EQ(NumberOrZero(""), 0);
  EXPECT_EQ(NumberOrZero("120"), 120);
}

TEST(SettingsCollectionTest, ShortInquiryVendorKeepsTheProduct) {
  EXPECT_EQ(ComposeInquiryString("QV", "DISK"), "QV      DISK");
  EXPECT_EQ(ComposeInquiryString("VENDOR123", "PRODUCT-NAME-LONGER-THAN-16"), "VENDOR12PRODUCT-NAME-LON");
}

struct IdCase {
  const char* vid;
  const char* pid;
  CollectError error;
  const char* venderId;
  uint8_t block0, block1;
  uint16_t vidValue;
};

TEST(SettingsCollectionTest, IdsGoIntoTheBlockAtTheLayoutOffsets) {
  const IdCase cases[] = {
      {"6A3E", "4649", CollectError::kNone, "6A3E", 0x3E, 0x6A, 0x6A3E},
      // Five digits: the field and the block keep four, the value the low 16 bits.
      {"12345", "4649", CollectError::kNone, "1234", 0x34, 0x12, 0x2345},
      {"12G4", "4649", CollectError::kVendorId, "12G4", 0xEE, 0xEE, 0},
      {"6A3E", "xyz", CollectError::kProductId, "6A3E", 0x3E, 0x6A, 0x6A3E},
      {"", "4649", CollectError::kVendorId, "", 0xEE, 0xEE, 0},
  };
  for (const IdCase& c : cases) {
    SettingsBlock s = ZeroedSettingsBlock();
    std::memset(s.OptionBlock, 0xEE, sizeof s.OptionBlock);
    s.OptionOffsets[kVidOffset] = 8;
    s.OptionOffsets[kPidOffset] = 10;
    EXPECT_EQ(CollectIds(s, c.vid, c.pid), c.error) << c.vid;
    EXPECT_EQ(FieldText(s.VenderID), c.venderId) << c.vid;
    EXPECT_EQ(s.OptionBlock[8], c.block0) << c.vid;
    EXPECT_EQ(s.OptionBlock[9], c.block1) << c.vid;
    EXPECT_EQ(s.VidValue, c.vidValue) << c.vid;
    if (c.error == CollectError::kProductId) {
      EXPECT_EQ(s.OptionBlock[10], 0xEE);
    }
  }
  EXPECT_EQ(CollectErrorMessage(CollectError::kVendorId, "12G4"),
            "Vendor ID: '12G4' is not a hexadecimal number.");
}

TEST(SettingsCollectionTest, LayoutOfTheChosenTypeKeepsTheOptionByte) {
  DeviceMix qvs646;
  qvs646.AnyQvs646 = true;
  DeviceMix mixed = qvs646;
  mixed.MixedQvs646 = true;
  struct Case {
    const DeviceMix* mix;
    int32_t item;
    int32_t vid, stringA, stringAMax, serial, serialMax;
    uint8_t flashType;
  };
  const DeviceMix standard;
  const Case cases[] = {
      {&standard, 0, 8, 20, 21, 0, 0, 255},
      {&standard, 1, 0, 12, 18, 96, 13, 255},
      {&qvs646, 0, 8, 24, 22, 88, 22, 1},
      // QVS646 "Type 3": the positions of the layout the block was built in.
      {&qvs646, 1, 0, 12, 31, 84, 31, 1},
      {&mixed, 1, 0, 12, 18, 96, 13, 255},
      // No item: the positions stay.
      {&standard, -1, 77, 77, 77, 77, 77, 255},
  };
  for (const Case& c : cases) {
    SettingsBlock s = ZeroedSettingsBlock();
    for (int32_t& o : s.OptionOffsets) o = 77;
    StationOptions options;
    CollectLayout(s, options, *c.mix, c.item, 1);
    EXPECT_EQ(s.OptionOffsets[kVidOffset], c.vid) << c.item;
    EXPECT_EQ(s.OptionOffsets[kStringAOffset], c.stringA) << c.item;
    EXPECT_EQ(s.OptionOffsets[kStringAMax], c.stringAMax) << c.item;
    EXPECT_EQ(s.OptionOffsets[kSerialOffset], c.serial) << c.item;
    EXPECT_EQ(s.OptionOffsets[kSerialMax], c.serialMax) << c.item;
    EXPECT_EQ(s.OptionOffsets[kOptionByteOffset], 77) << c.item;
    EXPECT_EQ(options.FlashType, c.flashType) << c.item;
  }
}

}  // namespace
}  // namespace station
