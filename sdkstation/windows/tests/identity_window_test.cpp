// The identity the window's controls hand to the library before a run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>

#include <algorithm>
#include <string>
#include <vector>

#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using station::testing::Ini;

class SdkIdentityWindow : public testing::SdkWindowTest {};

TEST_F(SdkIdentityWindow, TheRunsPreparationHandsTheControlsIdentityToEveryDevice) {
  Bench(testing::Products(25, 3));
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nStrBFromHDSN=1\r\nStandbyTimer=12\r\n"
                   "EnMultiSec=1\r\n"));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 3);
  Box("UpdateVIDChk")->setChecked(true);
  Type(Edit("VendorIDEdit"), "1D6B");
  Type(Edit("SerialNumberEdit"), "00A9");
  Box("Str3AutoInc")->setChecked(true);
  Type(Edit("StringCEdit"), "Maker");
  testing::DebugLines debug;
  ASSERT_TRUE(form.PrepareRun());
  const std::vector<std::string> calls = debug.Take("QV_");
  const std::string first = "\"" + std::string(form.Devices()[0]) + "\"";
  const std::string third = "\"" + std::string(form.Devices()[2]) + "\"";
  // The table is emptied first, then every device gets its entries.
  const auto emptied = std::find(calls.begin(), calls.end(), "QV_InitialCustomizedSettingTable()");
  const auto handed = std::find_if(calls.begin(), calls.end(),
                                   [](const std::string& call) { return call.starts_with("QV_IsQVS87xSeries"); });
  EXPECT_LT(emptied, handed);
  EXPECT_THAT(calls, Contains("QV_EnableUpdateVID(" + first + ", 1)"));
  EXPECT_THAT(calls, Contains("QV_SetVIDValue(" + first + ", \"1D6B\")"));
  EXPECT_THAT(calls, Contains("QV_SetManuStr(" + third + ", \"Maker\")"));
  EXPECT_THAT(calls, Contains("QV_SetStandbyTimer(" + third + ", 12)"));
  EXPECT_THAT(calls, Contains("QV_SetEnableMultiSector(" + third + ", 1)"));
  const SdkPassState& pass = form.Pass();
  EXPECT_EQ(std::string(pass.m_UpdateSN[0].data()), "00A9");
  EXPECT_EQ(std::string(pass.m_UpdateSN[2].data()), "00AB");
  // The window's serial is the pass's to advance.
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "00A9");

  Box("EEPROMCheckBox")->setChecked(false);
  ASSERT_TRUE(form.PrepareRun());
  for (const std::string& call : debug.Take("QV_"))
    EXPECT_TRUE(call.starts_with("QV_SetFWBinFilePath") || call.starts_with("QV_SetCloneProduct") ||
                call == "QV_InitialCustomizedSettingTable()")
        << call;
}

}  // namespace
}  // namespace sdkstation
