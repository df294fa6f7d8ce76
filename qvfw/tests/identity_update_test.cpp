// The identity a product is given through the CustomizedSettingTable: what
// the flash holds at once, what the system shows after the reset, and the
// entries that must write nothing.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

// The family that keeps its identity in the 64 KB image (or another chip).
sim::ProductConfig ImageProduct(const std::string& name, uint8_t chipType = 29) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = chipType;
  config.vid = 0x1D6B;
  config.pid = 0x0100;
  config.manufacturer = "Kestrova Sim";
  config.product = "USB Storage Bridge";
  config.usbSerial = "000000000001";
  config.disk.sectors = 65536;
  return config;
}

struct Identity {
  uint16_t vid = 0, pid = 0;
  std::string manufacturer, product, serial;
  bool operator==(const Identity&) const = default;
};

void PrintTo(const Identity& i, std::ostream* os) {
  *os << std::hex << i.vid << ":" << i.pid << " '" << i.manufacturer << "' '" << i.product
      << "' '" << i.serial << "'";
}

Identity SystemView(LibraryBench& lib, const std::string& path) {
  Identity i;
  char text[3][80] = {};
  EXPECT_NE(lib.sdk().QV_GetVIDfromOS(path.c_str(), &i.vid), 0);
  EXPECT_NE(lib.sdk().QV_GetPIDfromOS(path.c_str(), &i.pid), 0);
  EXPECT_NE(lib.sdk().QV_GetManuStrfromOS(path.c_str(), text[0]), 0);
  EXPECT_NE(lib.sdk().QV_GetProdStrfromOS(path.c_str(), text[1]), 0);
  EXPECT_NE(lib.sdk().QV_GetSNfromOS(path.c_str(), text[2]), 0);
  i.manufacturer = text[0];
  i.product = text[1];
  i.serial = text[2];
  return i;
}

Identity FlashView(LibraryBench& lib, const std::string& path) {
  Identity i;
  char text[3][80] = {};
  EXPECT_NE(lib.sdk().QV_GetVIDfromFlash(path.c_str(), &i.vid), 0);
  EXPECT_NE(lib.sdk().QV_GetPIDfromFlash(path.c_str(), &i.pid), 0);
  EXPECT_NE(lib.sdk().QV_GetManuStrfromFlash(path.c_str(), text[0]), 0);
  EXPECT_NE(lib.sdk().QV_GetProdStrfromFlash(path.c_str(), text[1]), 0);
  EXPECT_NE(lib.sdk().QV_GetSNfromFlash(path.c_str(), text[2]), 0);
  i.manufacturer = text[0];
  i.product = text[1];
  i.serial = text[2];
  return i;
}

// The station's hand-over for a chip outside the QVS87x series.
void HandOver(LibraryBench& lib, const std::string& path, const Identity& wanted) {
  const char* p = path.c_str();
  const auto& sdk = lib.sdk();
  ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0);
  ASSERT_NE(sdk.QV_EnableUpdateVID(p, 1), 0);
  ASSERT_NE(sdk.QV_EnableUpdatePID(p, 1), 0);
  ASSERT_NE(sdk.QV_EnableUpdateSN(p, 1), 0);
  ASSERT_NE(sdk.QV_EnableUpdateStandbyTimer(p, 1), 0);
  ASSERT_NE(sdk.QV_EnableUpdateManuStr(p, 1), 0);
  ASSERT_NE(sdk.QV_EnableUpdateProdStr(p, 1), 0);
  char vid[5], pid[5];
  std::snprintf(vid, sizeof vid, "%04x", wanted.vid);
  std::snprintf(pid, sizeof pid, "%X", wanted.pid);
  ASSERT_NE(sdk.QV_SetVIDValue(p, vid), 0);
  ASSERT_NE(sdk.QV_SetPIDValue(p, pid), 0);
  ASSERT_NE(sdk.QV_SetSerialNumStr(p, wanted.serial.c_str()), 0);
  ASSERT_NE(sdk.QV_SetStandbyTimer(p, -1), 0);
  ASSERT_NE(sdk.QV_SetManuStr(p, wanted.manufacturer.c_str()), 0);
  ASSERT_NE(sdk.QV_SetProdString(p, wanted.product.c_str()), 0);
}

// The families that keep their identity in the flash: the 64 KB image, or
// the configuration area beside the firmware.
class IdentityUpdate : public ::testing::TestWithParam<int> {};

TEST_P(IdentityUpdate, FlashAtOnceSystemAfterTheResetUnderANewPathAtTheSameHubLocation) {
  sim::ProductConfig config = ImageProduct("ident", static_cast<uint8_t>(GetParam()));
  config.placement.resetNewPath = true;
  LibraryBench lib({config});
  ASSERT_TRUE(lib.bound());
  const std::string path = lib.List().at(0);
  const Identity before{0x1D6B, 0x0100, "Kestrova Sim", "USB Storage Bridge", "000000000001"};
  EXPECT_EQ(SystemView(lib, path), before);

  const Identity wanted{0x6A3E, 0x4649, "Orvanta", "Kestrova Bridge", "000000000042"};
  HandOver(lib, path, wanted);
  ASSERT_NE(lib.sdk().QV_UpdateCustomizedSetting(path.c_str()), 0);
  EXPECT_EQ(FlashView(lib, path), wanted);
  EXPECT_EQ(SystemView(lib, path), before) << "the system shows the old identity until the reset";

  const auto where = lib.LocationOf(path);
  ASSERT_TRUE(where);
  const int index = lib.sdk().QV_GetCustomizedSettingTableIndex(path.c_str());
  ASSERT_GE(index, 0);
  ASSERT_NE(lib.sdk().QV_ChipReset(path.c_str()), 0);
  const auto again = lib.Refind(*where);
  ASSERT_TRUE(again);
  EXPECT_NE(*again, path);
  ASSERT_NE(lib.sdk().QV_SetDevicePath(index, again->c_str()), 0);
  EXPECT_EQ(lib.sdk().QV_GetCustomizedSettingTableIndex(again->c_str()), index);
  EXPECT_EQ(lib.sdk().QV_GetCustomizedSettingTableIndex(path.c_str()), -1);
  EXPECT_EQ(SystemView(lib, *again), wanted);
  EXPECT_EQ(FlashView(lib, *again), wanted);
}

INSTANTIATE_TEST_SUITE_P(ChipTypes, IdentityUpdate, ::testing::Values(29, 25, 26, 27, 28),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param); });

// An entry is written whole or not at all: the flash keeps what it held.
TEST(IdentityEntry, AnIncompleteOrOverlongEntryWritesNothing) {
  struct Case {
    const char* what;
    std::function<void(const sdkstation::DeviceSdkTable&, const char*)> spoil;
  };
  const Case cases[] = {
      {"the VID switched on without its value",
       [](const auto& sdk, const char* p) {
         ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0);
         ASSERT_NE(sdk.QV_EnableUpdateVID(p, 1), 0);
       }},
      {"the product string switched on without its text",
       [](const auto& sdk, const char* p) {
         ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0);
         ASSERT_NE(sdk.QV_EnableUpdateProdStr(p, 1), 0);
       }},
      {"a manufacturer string one character longer than the descriptor holds",
       [](const auto& sdk, const char* p) {
         ASSERT_NE(sdk.QV_SetManuStr(p, std::string(32, 'M').c_str()), 0);
       }},
      {"an emptied table: no entry for the device",
       [](const auto& sdk, const char*) { ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0); }},
  };
  LibraryBench lib({ImageProduct("whole")});
  const std::string path = lib.List().at(0);
  const Identity wanted{0x6A3E, 0x4649, "Orvanta", "Kestrova Bridge", "000000000042"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Identity before = FlashView(lib, path);
    HandOver(lib, path, wanted);
    c.spoil(lib.sdk(), path.c_str());
    EXPECT_EQ(lib.sdk().QV_UpdateCustomizedSetting(path.c_str()), 0);
    EXPECT_EQ(FlashView(lib, path), before);
  }
}

}  // namespace
}  // namespace qvfw
