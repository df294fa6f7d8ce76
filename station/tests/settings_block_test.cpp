#include "station/settings_block.h"

#include <gtest/gtest.h>

namespace station {
namespace {

// A text keeps its terminator: ten characters do not fit VenderID. Only the
// fixed-width INQUIRY and descriptor texts are filled to the last byte, and
// reading one never runs into the next field.
TEST(FieldText, TextsKeepTheirTerminatorFixedTextsFillTheirWidth) {
  SettingsBlock block = ZeroedSettingsBlock();
  EXPECT_TRUE(SetFieldText(block.VenderID, "012345678"));
  EXPECT_EQ(FieldText(block.VenderID), "012345678");
  EXPECT_FALSE(SetFieldText(block.VenderID, "0123456789"));
  EXPECT_EQ(FieldText(block.VenderID), "012345678");
  EXPECT_EQ(block.VenderID[9], '\0');

  EXPECT_TRUE(SetFixedText(block.InquiryVendor, "ORVANTA1"));
  SetFixedText(block.InquiryProduct, "USB3.0 BRIDGE");
  EXPECT_EQ(FieldText(block.InquiryVendor), "ORVANTA1");
  EXPECT_EQ(FieldText(block.InquiryProduct), "USB3.0 BRIDGE");
  EXPECT_FALSE(SetFixedText(block.InquiryVendor, "ORVANTA12"));
  EXPECT_EQ(FieldText(block.InquiryVendor), "ORVANTA1");

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

TEST(StoreSerialNumber, SerialTextKeepsItsTerminator) {
  struct Case {
    std::string_view text;
    std::string_view serial;  // what SerialText holds
    int32_t length;
  } const cases[] = {
      {"", "", 0},
      {"012345", "012345", 6},
      {"0123456789ABCDEF012", "0123456789ABCDEF012", 19},
      {"0123456789ABCDEF0123", "0123456789ABCDEF012", 19},
      {"0123456789ABCDEF0123456789", "0123456789ABCDEF012", 19},
  };
  for (const Case& c : cases) {
    SettingsBlock block = ZeroedSettingsBlock();
    StoreSerialNumber(block, c.text);
    EXPECT_EQ(FieldText(block.SerialText), c.serial);
    EXPECT_EQ(block.SerialText[sizeof block.SerialText - 1], '\0') << c.text;
    EXPECT_EQ(block.SerialLength, c.length) << c.text;
    EXPECT_EQ(FieldText(block.String3), c.text);
  }
}

}  // namespace
}  // namespace station
