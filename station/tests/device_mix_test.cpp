#include "station/device_mix.h"

#include <gtest/gtest.h>

#include <vector>

namespace station {
namespace {

DeviceMix MixOf(const std::vector<unsigned>& chips, uint16_t firstRev = 0, int32_t eepromOnly = 0) {
  DeviceMix mix;
  StartDeviceMix(mix);
  for (unsigned chip : chips) ApplyChipMixRow(mix, chip, firstRev, eepromOnly);
  return mix;
}

TEST(DeviceMixTest, ChipMixTable) {
  struct Case {
    std::vector<unsigned> chips;
    uint16_t firstRev;
    int32_t eepromOnly;
    bool legacy, type3, firmware, standby, usb3, odd, hdd, qvs87x;
  };
  const Case cases[] = {
      {{4}, 0, 0, true, true, true, true, false, false, false, false},
      {{6}, 0, 0, false, true, true, true, false, false, false, false},
      {{8}, 0x0708, 0, false, true, false, false, false, false, false, false},
      {{8}, 0x0808, 0, false, true, false, true, false, false, false, false},
      {{8}, 0xF008, 0, false, true, false, false, false, false, false, false},  // signed high byte
      {{9}, 0, 0, false, true, true, false, false, false, false, false},
      {{13}, 0, 0, false, true, true, true, true, false, false, false},
      {{17}, 0, 0, false, true, false, true, false, false, false, false},
      {{18}, 0, 0, false, true, true, true, false, true, false, false},
      {{20}, 0, 0, false, true, true, true, true, true, true, false},
      {{22}, 0, 0, false, true, true, true, true, true, true, true},
      {{26}, 0, 0, false, true, true, true, true, false, true, false},
      {{29}, 0, 0, true, true, true, false, false, false, false, false},
      {{34}, 0, 1, true, true, false, false, false, false, false, false},
      {{31}, 0, 0, true, false, false, false, false, false, false, false},
      // A later device overwrites what an earlier one set.
      {{9, 7}, 0, 0, false, true, true, true, false, false, false, false},
      {{7, 9}, 0, 0, false, true, true, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    const DeviceMix m = MixOf(c.chips, c.firstRev, c.eepromOnly);
    const std::string what = ::testing::PrintToString(c.chips);
    EXPECT_EQ(m.LegacyOnly, c.legacy) << what;
    EXPECT_EQ(m.Type3Allowed, c.type3) << what;
    EXPECT_EQ(m.FirmwareUpdateAllowed, c.firmware) << what;
    EXPECT_EQ(m.StandbyTimerSupported, c.standby) << what;
    EXPECT_EQ(m.Usb3Family, c.usb3) << what;
    EXPECT_EQ(m.OddSizeSupported, c.odd) << what;
    EXPECT_EQ(m.HddStringMode, c.hdd) << what;
    EXPECT_EQ(m.Qvs87xPresent, c.qvs87x) << what;
    EXPECT_FALSE(m.EepromTypeSelectable) << what;
  }
}

TEST(DeviceMixTest, ChipModelsCountOnlyTypesOneToThirtyFour) {
  EXPECT_EQ(CountChipModels(0), 0);
  EXPECT_EQ(CountChipModels(uint64_t{1} << 21), 1);
  EXPECT_EQ(CountChipModels((uint64_t{1} << 21) | (uint64_t{1} << 4)), 2);
  EXPECT_EQ(CountChipModels(1 | (uint64_t{1} << 35)), 0);
}

TEST(DeviceMixTest, EepromTypeListAlwaysHasItsItemSelected) {
  struct Case {
    int32_t interleave;
    bool type3;
    int32_t oldIndex;
    std::vector<std::string_view> items;
    int32_t selected;
  };
  const Case cases[] = {
      {kInterleaveNoQvs646, true, 0, {"Type 1", "Type 2", "Type 3"}, 2},
      {kInterleaveNoQvs646, false, 2, {"Type 1", "Type 2"}, 1},
      {kInterleaveNoQvs646, false, -1, {"Type 1", "Type 2"}, 0},
      {kInterleaveMixed, true, 1, {"Type 1", "Type 2", "Type 3"}, 2},
      {kInterleaveOnlyQvs646, true, 1, {"Normal", "Type 3"}, 1},
      {kInterleaveOnlyQvs646, true, 2, {"Normal", "Type 3"}, 0},
      {kInterleaveOnlyQvs646, false, 1, {"Normal"}, 0},
  };
  for (const Case& c : cases) {
    const EepromTypeList list = BuildEepromTypeList(c.interleave, c.type3, c.oldIndex);
    EXPECT_EQ(list.items, c.items) << c.interleave << " " << c.oldIndex;
    EXPECT_EQ(list.selected, c.selected) << c.interleave << " " << c.oldIndex;
  }
}

}  // namespace
}  // namespace station
