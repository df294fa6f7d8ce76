// The QVS87x identity kept across the erase of a clone-product firmware
// write, and the standby timer set back after it.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/byte_order.h"
#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

constexpr size_t kImageSize = 0x40000;

// A QVS871 firmware file; a clone-product file has different words at
// 0x1FFFC and 0x3FFFC.
std::string WriteFile(const testing::fs::path& folder, const std::string& name, bool clone) {
  std::vector<uint8_t> file(kImageSize, 0);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7 + 3);
  file[3] = '8';
  file[4] = '7';
  file[5] = '1';
  platform::PutBigEndian32(&file[0x1FFFC], 0x11111111);
  platform::PutBigEndian32(&file[0x3FFFC], clone ? 0x22222222 : 0x11111111);
  return testing::WriteBytes(folder, name, file);
}

sim::ProductConfig Qvs871(const std::string& name) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = 21;
  config.usbSerial = "SN" + name;
  config.disk.sectors = 65536;
  config.placement.resetNewPath = true;
  return config;
}

struct Texts {
  std::string manufacturer, product;
  bool operator==(const Texts&) const = default;
};

Texts FlashTexts(LibraryBench& lib, const std::string& path) {
  char m[80] = {}, p[80] = {};
  EXPECT_NE(lib.sdk().QV_GetManuStrfromFlash(path.c_str(), m), 0);
  EXPECT_NE(lib.sdk().QV_GetProdStrfromFlash(path.c_str(), p), 0);
  return {m, p};
}

class CloneUpdate : public ::testing::Test {
 protected:
  // Resets (or activates) the product and finds it again at its hub location.
  void ComeBack(bool activate) {
    const auto where = lib_.LocationOf(path_);
    ASSERT_TRUE(where);
    ASSERT_NE(activate ? lib_.sdk().QV_ActiveFirmware(path_.c_str())
                       : lib_.sdk().QV_ChipReset(path_.c_str()),
              0);
    const auto again = lib_.Refind(*where);
    ASSERT_TRUE(again);
    path_ = *again;
  }
  // A product firmware with the given USB strings, written the standard way.
  void WriteStrings(const Texts& texts) {
    const auto& sdk = lib_.sdk();
    const char* p = path_.c_str();
    ASSERT_NE(sdk.QV_SetCloneProduct(0), 0);
    ASSERT_NE(sdk.QV_SetFWBinFilePath(standard_.c_str()), 0);
    ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0);
    ASSERT_NE(sdk.QV_EnableUpdateManuProdCtl(p, 1), 0);
    ASSERT_NE(sdk.QV_SetManuProdCtl(p, 1), 0);
    ASSERT_NE(sdk.QV_SetUsbManuString(p, texts.manufacturer.c_str()), 0);
    ASSERT_NE(sdk.QV_SetUsbProdString(p, texts.product.c_str()), 0);
    ASSERT_NE(sdk.QV_FWUpdateProgrammingEX(p), 0);
    ComeBack(true);
  }

  LibraryBench lib_{{Qvs871("clone")}};
  std::string path_ = lib_.List().at(0);
  std::string standard_ = WriteFile(lib_.folder(), "std871.bin", false);
  std::string clone_ = WriteFile(lib_.folder(), "clone871.bin", true);
};

TEST_F(CloneUpdate, ThePreservedIdentityComesBackAfterTheEraseUnderANewPath) {
  const Texts mine{"Orvanta", "Kestrova Bridge"};
  ASSERT_NO_FATAL_FAILURE(WriteStrings(mine));
  ASSERT_EQ(FlashTexts(lib_, path_), mine);
  const auto& sdk = lib_.sdk();
  ASSERT_NE(sdk.QV_Update87xStandbyTimer(path_.c_str(), 7), 0);
  int standby = -1;
  ASSERT_NE(sdk.QV_Get87xStandbyTimerbySCSICmd(path_.c_str(), &standby), 0);
  ASSERT_EQ(standby, 7);

  // The second program's clone path, firmware only.
  ASSERT_NE(sdk.QV_SetCloneProduct(1), 0);
  ASSERT_NE(sdk.QV_SetFWBinFilePath(clone_.c_str()), 0);
  ASSERT_NE(sdk.QV_87xPreserveCustomizedSetting(path_.c_str()), 0);
  ASSERT_NE(sdk.QV_SerialFlashErase(path_.c_str()), 0);
  ASSERT_NO_FATAL_FAILURE(ComeBack(false));
  int mode = 0;
  ASSERT_NE(sdk.QV_GetRunningCodeMode(path_.c_str(), &mode), 0);
  EXPECT_EQ(mode, kModeInternalCode);
  ASSERT_NE(sdk.QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting(path_.c_str()), 0);
  ASSERT_NO_FATAL_FAILURE(ComeBack(true));
  ASSERT_NE(sdk.QV_Update87xStandbyTimer(path_.c_str(), standby), 0);

  ASSERT_NE(sdk.QV_GetRunningCodeMode(path_.c_str(), &mode), 0);
  EXPECT_EQ(mode, kModeFirmware);
  EXPECT_EQ(FlashTexts(lib_, path_), mine);
  int after = -1;
  ASSERT_NE(sdk.QV_Get87xStandbyTimerbySCSICmd(path_.c_str(), &after), 0);
  EXPECT_EQ(after, 7);
}

TEST_F(CloneUpdate, WithoutAPreservedIdentityTheCloneWriteRefuses) {
  const auto& sdk = lib_.sdk();
  ASSERT_NE(sdk.QV_SetCloneProduct(1), 0);
  ASSERT_NE(sdk.QV_SetFWBinFilePath(clone_.c_str()), 0);
  EXPECT_EQ(sdk.QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting(path_.c_str()), 0);
}

}  // namespace
}  // namespace qvfw
