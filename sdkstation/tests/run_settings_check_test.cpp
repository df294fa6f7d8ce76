// What START checks before a run, and the serial number it leaves after.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sdkstation/device_serials.h"
#include "sdkstation/run_settings_check.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/tests/fake_device_library.h"
#include "sdkstation/tests/sdk_fixture.h"

namespace sdkstation {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class SdkRunCheck : public testing::SdkTest {};

TEST_F(SdkRunCheck, ChecksInTheirOrder) {
  testing::FakeDeviceLibrary lib;
  const std::string image = Path("image");
  std::filesystem::create_directories(image);
  struct Case {
    const char* name;
    void (*set)(SdkSettingsBlock&, RunCheckInput&);
    bool mayRun;
    std::vector<std::string> messages;
    bool focus;
  };
  const Case cases[] = {
      {"no step", [](SdkSettingsBlock&, RunCheckInput&) {}, false, {}, false},
      {"erase box alone", [](SdkSettingsBlock&, RunCheckInput& in) { in.eraseFlashChecked = true; }, true, {}, false},
      {"flash without firmware, identity alone",
       [](SdkSettingsBlock& s, RunCheckInput& in) {
         s.EnEEPROMUpdate = 1;
         in.runningModes = {2, 1};
       },
       false, {kFlashNullMessage}, false},
      {"flash without firmware, both updates",
       [](SdkSettingsBlock& s, RunCheckInput& in) {
         s.EnEEPROMUpdate = s.EnFWUpdate = 1;
         SetFieldText(s.FwFileName, "fw.bin");
         in.runningModes = {1};
       },
       true, {}, false},
      {"blank serial",
       [](SdkSettingsBlock& s, RunCheckInput& in) {
         s.EnEEPROMUpdate = 1;
         in.serialNumber = "";
       },
       false, {kBlankSerialMessage}, true},
      {"image folder missing",
       [](SdkSettingsBlock& s, RunCheckInput& in) {
         s.EnSWCopy = 1;
         in.softwareImagePath = "/nowhere/at/all/*.*";
       },
       false, {kSoftwareImagePathInvalid}, false},
      {"firmware check without a file",
       [](SdkSettingsBlock& s, RunCheckInput&) { s.EnFWCheck = 1; }, false, {kFirmwareFileMessage}, false},
      {"firmware check with a file",
       [](SdkSettingsBlock& s, RunCheckInput&) {
         s.EnFWCheck = 1;
         SetFieldText(s.FwFileName, "fw.bin");
       },
       true, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes_.clear();
    SdkSettingsBlock s = ZeroedSdkSettingsBlock();
    RunCheckInput in;
    in.serialNumber = "0001";
    in.softwareImagePath = image + "/*.*";
    c.set(s, in);
    const RunCheck check = CheckRunSettings(s, in);
    EXPECT_EQ(check.mayRun, c.mayRun);
    EXPECT_EQ(check.focusSerialNumber, c.focus);
    EXPECT_EQ(Messages(), c.messages);
  }
}

TEST_F(SdkRunCheck, TheFirmwareFileMustSuitTheFirstDevice) {
  testing::FakeDeviceLibrary lib;
  std::string asked;
  static std::string* s_asked = &asked;
  static bool s_match = false;
  DeviceSdk().QV_CheckLoadBinFileMatch = [](const char* path, const char* file) {
    *s_asked = std::string(path) + "|" + file;
    return s_match ? 1 : 0;
  };
  SdkSettingsBlock s = ZeroedSdkSettingsBlock();
  s.EnFWUpdate = 1;
  SetFieldText(s.FwFileName, "fw.bin");
  RunCheckInput in;
  in.firstDevicePath = "dev0";
  in.firmwareFile = "/fw/fw.bin";
  EXPECT_FALSE(CheckRunSettings(s, in).mayRun);
  EXPECT_EQ(asked, "dev0|/fw/fw.bin");
  EXPECT_THAT(Messages(), ElementsAre(kFirmwareNotForAllChips));
  s_match = true;
  EXPECT_TRUE(CheckRunSettings(s, in).mayRun);
}

TEST(SdkSerialAdvance, ByTheDevicesHandedASerial) {
  struct Case {
    const char* serial;
    int devices;
    bool autoIncrement;
    const char* after;
  };
  const Case cases[] = {
      {"00FF", 3, true, "0102"}, {"00FF", 3, false, "00FF"}, {"0009", 2, true, "000B"},
      {"00A9", 0, true, "00A9"},
      // The last serial is where the counter stops, short of the numbers it began with.
      {"FFFF", 1, true, "FFFF"}, {"FFFD", 3, true, "FFFF"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AdvanceSerialNumber(c.serial, c.devices, c.autoIncrement), c.after) << c.serial << " " << c.devices;
}

}  // namespace
}  // namespace sdkstation
