#include "station/settings_block.h"

#include <gtest/gtest.h>

namespace station {
namespace {

TEST(FieldText, HonoursTheWidthOfAFieldFilledExactly) {
  SettingsBlock block = ZeroedSettingsBlock();
  // Ten characters fill VenderID exactly: no NUL, and the next field must
  // not leak into what is read.
  EXPECT_TRUE(SetFieldText(block.VenderID, "0123456789"));
  SetFieldText(block.ProductID, "4649");
  EXPECT_EQ(FieldText(block.VenderID), "0123456789");
  EXPECT_EQ(FieldText(block.ProductID), "4649");

  EXPECT_FALSE(SetFieldText(block.VenderID, "0123456789AB"));
  EXPECT_EQ(FieldText(block.VenderID), "0123456789");

  // A shorter text clears what a longer one left behind.
  EXPECT_TRUE(SetFieldText(block.VenderID, "6A3E"));
  EXPECT_EQ(FieldText(block.VenderID), "6A3E");
  for (size_t i = 4; i < sizeof block.VenderID; ++i) EXPECT_EQ(block.VenderID[i], '\0');

  EXPECT_TRUE(SetFieldText(block.DiskLabel, std::string_view("ab\0cd", 5)));
  EXPECT_EQ(FieldText(block.DiskLabel), "ab");
}

TEST(SettingsBlock, AJobsCopyKeepsItsValues) {
  SettingsBlock window = ZeroedSettingsBlock();
  SetFieldText(window.String3, "0001");
  window.OptionBlock[5] = 0x42;
  const SettingsBlock job = window;
  SetFieldText(window.String3, "0002");
  window.OptionBlock[5] = 0;
  EXPECT_EQ(FieldText(job.String3), "0001");
  EXPECT_EQ(job.OptionBlock[5], 0x42);
}

TEST(SettingsBlock, StartsZeroedAndTheOptionsWithTheirInitialValues) {
  const SettingsBlock block = ZeroedSettingsBlock();
  EXPECT_EQ(FieldText(block.WriteFileName), "");
  EXPECT_EQ(block.RWDataSize, 0);
  EXPECT_EQ(block.PerfShift, 0.0f);
  const StationOptions options;
  EXPECT_EQ(options.SCSITimeout, 10);
  EXPECT_EQ(options.FlashType, 255);
  EXPECT_EQ(options.EnQVS871StandbyTime, 0);
  EXPECT_EQ(options.ClusterChoice, 0);
}

TEST(StoreSerialNumber, TheLengthNeverExceedsTheStoredText) {
  struct Case {
    std::string_view text;
    std::string_view serial;  // what SerialText holds
    int32_t length;
  } const cases[] = {
      {"", "", 0},
      {"012345", "012345", 6},
      {"0123456789ABCDEF0123", "0123456789ABCDEF0123", 20},
      {"0123456789ABCDEF0123456789", "0123456789ABCDEF0123", 20},
  };
  for (const Case& c : cases) {
    SettingsBlock block = ZeroedSettingsBlock();
    StoreSerialNumber(block, c.text);
    EXPECT_EQ(FieldText(block.SerialText), c.serial);
    EXPECT_EQ(block.SerialLength, c.length) << c.text;
    EXPECT_EQ(FieldText(block.String3), c.text);
  }
}

}  // namespace
}  // namespace station
