// The configuration block as the pass completes it: the string-source bytes
// by the strings set and the mapping boxes, the INQUIRY flag, the default
// IDs and string C, the padding of the serial number, the standby byte.
#include "station/pass_option_block.h"

#include <gtest/gtest.h>

#include <string>

#include "station/eeprom_layout.h"
#include "station/step_helpers.h"

namespace station {
namespace {

// A layout with every position inside the block, the option byte at 5.
SettingsBlock Block() {
  SettingsBlock s = ZeroedSettingsBlock();
  const int32_t offsets[kOptionOffsetCount] = {0, 4, 8, 9, 10, 11, 12, 30, 48, 30, 84, 20};
  std::copy(std::begin(offsets), std::end(offsets), s.OptionOffsets);
  s.TableType = 3;  // single-byte texts: 45 lies past string A
  SetFieldText(s.VenderID, "ABCD");
  SetFieldText(s.ProductID, "1234");
  SetFieldText(s.StringA, "Maker");
  SetFieldText(s.StringB, "Product");
  SetFieldText(s.String3, "123");
  return s;
}

struct SourceCase {
  const char* name;
  std::function<void(SettingsBlock&, IdentityControls&)> set;
  uint8_t manufacturer, product, serial, option;
  std::string string3, stringA;
};

TEST(PassOptionBlockTest, StringSourcesAndPadding) {
  const auto type3Mapped = [](SettingsBlock&, IdentityControls& c) {
    c.eepromLayoutIndex = kLayoutIndexType3;
    c.stringAToDiskString = true;
  };
  const SourceCase cases[] = {
      {"all set, type 2", [](SettingsBlock&, IdentityControls& c) { c.eepromLayoutIndex = kLayoutIndexType2; },
       10, 11, 3, 0, "000000000123", "Maker"},
      {"QVS646 family", [](SettingsBlock&, IdentityControls& c) {
         c.interleaveMode = kInterleaveOnlyQvs646;
         c.eepromLayoutIndex = kLayoutIndexType2;
       }, 10, 11, 12, 0, "000000000123", "Maker"},
      {"unset strings", [](SettingsBlock& s, IdentityControls& c) {
         c.eepromLayoutIndex = kLayoutIndexType2;
         SetFieldText(s.StringA, kNullText);
         SetFieldText(s.StringB, "");
         SetFieldText(s.String3, kNullText);
       }, 1, 2, 5, 0, std::string(kNullText), std::string(kNullText)},
      {"serial from the disk", [](SettingsBlock& s, IdentityControls& c) {
         c.eepromLayoutIndex = kLayoutIndexType2;
         s.EnSNfromHDDSN = 1;
       }, 10, 11, 7, 0, "123", "Maker"},
      // Type 1 with string A as the serial: its source 10 is kept, and string A padded.
      {"type 1, string A is the serial", [](SettingsBlock&, IdentityControls& c) { c.stringAToSerial = true; },
       1, 11, 10, 0, "123", "0000000Maker"},
      {"type 1, short serial in string A", [](SettingsBlock& s, IdentityControls& c) {
         c.stringAToSerial = true;
         SetFieldText(s.StringA, "0A");
       }, 1, 11, 10, 0, "123", "0000000000" "0A"},
      {"type 1, string A unset, box on", [](SettingsBlock& s, IdentityControls& c) {
         c.stringAToSerial = true;
         SetFieldText(s.StringA, kNullText);
       }, 1, 11, 5, 0, "123", std::string(kNullText)},
      {"type 1 without the box", nullptr, 10, 11, 5, 0, "123", "Maker"},
      {"type 3 mapped, INQUIRY blank", [&](SettingsBlock& s, IdentityControls& c) {
         type3Mapped(s, c);
         c.inquiryVendor = "        ";
         c.inquiryProduct = kNullText;
       }, 1, 11, 3, 0x01, "000000000123", "Maker"},
      {"type 3 mapped, INQUIRY set", [&](SettingsBlock& s, IdentityControls& c) {
         type3Mapped(s, c);
         c.inquiryVendor = "KESTROVA";
       }, 1, 11, 3, 0x0A, "000000000123", "Maker"},
      {"bar-code mode: no padding", [](SettingsBlock& s, IdentityControls& c) {
         c.eepromLayoutIndex = kLayoutIndexType2;
         s.EnBarcodeMode = 1;
       }, 10, 11, 3, 0, "123", "Maker"},
  };
  for (const SourceCase& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsBlock s = Block();
    IdentityControls controls;
    if (c.set) c.set(s, controls);
    PrepareOptionBlock(s, controls, DeviceMix{}, 0);
    EXPECT_EQ(s.OptionBlock[8], c.manufacturer);
    EXPECT_EQ(s.OptionBlock[9], c.product);
    EXPECT_EQ(s.OptionBlock[10], c.serial);
    EXPECT_EQ(s.OptionBlock[11], c.option);
    EXPECT_EQ(FieldText(s.String3), c.string3);
    EXPECT_EQ(FieldText(s.StringA), c.stringA);
    EXPECT_EQ(FieldText(s.StringC), "Orvanta");
  }
}

TEST(PassOptionBlockTest, DefaultIdsAndStandbyByte) {
  EXPECT_EQ(DefaultProductId(4), 0x4649);
  EXPECT_EQ(DefaultProductId(25), 0x4887);
  SettingsBlock s = Block();
  SetFieldText(s.VenderID, "");
  SetFieldText(s.ProductID, "");
  SetFieldText(s.StringC, "Mine");
  DeviceMix mix;
  mix.StandbyTimerSupported = true;
  s.StandbyTimer = 0;
  PrepareOptionBlock(s, {}, mix, 0x0108);  // revision 1 of a QVS639 (ChipType 8)
  EXPECT_EQ(s.OptionBlock[0], 0x3E);
  EXPECT_EQ(s.OptionBlock[1], 0x6A);
  EXPECT_EQ(s.OptionBlock[4], 0x39);
  EXPECT_EQ(s.OptionBlock[5], 0x46);
  EXPECT_EQ(FieldText(s.StringC), "Mine");
  EXPECT_EQ(s.OptionBlock[45], 1);  // incremented for this family

  mix.AnyQvs819Family = true;
  s.OptionBlock[45] = 0xC5;
  s.StandbyTimer = 63;
  PrepareOptionBlock(s, {}, mix, 17);
  EXPECT_EQ(s.OptionBlock[45], 0xC0);  // (63 + 1) & 0x3F under the upper bits
  s.StandbyTimer = 9;
  PrepareOptionBlock(s, {}, mix, 17);
  EXPECT_EQ(s.OptionBlock[45], 0xCA);
}

}  // namespace
}  // namespace station
