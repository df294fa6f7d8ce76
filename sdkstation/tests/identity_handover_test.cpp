// The identity handed to the bound library for every attached device, as
// the library's own trace of its entry calls shows it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/identity_handover.h"
#include "sdkstation/tests/sdk_fixture.h"

namespace sdkstation {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class SdkIdentity : public testing::SdkTest {
 public:
  // Lists the bench's devices and empties the library's table, as START does.
  void ListAndEmpty() {
    int32_t attached = 0;
    int64_t freeSpace = 0;
    count_ = ListAttachedDevices(list_, ports_, attached, freeSpace).count;
    ASSERT_EQ(DeviceSdk().QV_InitialCustomizedSettingTable(), 1);
  }
  std::vector<std::string> HandOver(const IdentityControls& controls) {
    testing::DebugLines trace;
    HandOverIdentity(list_, count_, controls, state_);
    return trace.Take("QV_");
  }
  std::string Serial(int i) const { return state_.m_UpdateSN[static_cast<size_t>(i)].data(); }

  DeviceList list_;
  SdkPortTable ports_;
  int count_ = 0;
  SdkPassState state_;
};

// The last argument of a traced call, without its quotes.
std::string LastArgument(const std::string& call) {
  std::string last = call.substr(call.rfind(", ") + 2);
  last.pop_back();  // ')'
  if (last.size() >= 2 && last.front() == '"') last = last.substr(1, last.size() - 2);
  return last;
}

IdentityControls Controls() {
  IdentityControls c;
  c.updateVid = true;
  c.updateManufString = true;
  c.vendorId = "1D6B";
  c.productId = "0105";
  c.serialNumber = "00A9";
  c.vendorStr = "ACME";
  c.prodStr = "BOX";
  c.stringB = "Box\tThree";
  c.stringC = "Maker";
  c.inquiryCtl = true;
  c.mapToHddName = true;
  c.standbyTimer = 15;
  c.qvs871StandbyTime = true;
  c.multiSector = true;
  return c;
}

TEST_F(SdkIdentity, TheCallsOfASeriesProductAndOfAnother) {
  Bench("[product series]\nchip = 21\n[product other]\nchip = 25\ndisk.serial = WD-DISK-0042\n");
  Bind();
  ListAndEmpty();
  ASSERT_EQ(count_, 2);
  const std::string a = "\"" + std::string(list_[0]) + "\"";
  const std::string b = "\"" + std::string(list_[1]) + "\"";
  IdentityControls controls = Controls();
  controls.productFromDiskSerial = true;
  const std::vector<std::string> calls = HandOver(controls);
  const std::vector<std::string> expected = {
      "QV_IsQVS87xSeries(" + a + ")",
      "QV_EnableUpdateVID(" + a + ", 1)",
      "QV_EnableUpdatePID(" + a + ", 0)",
      "QV_EnableUpdateSN(" + a + ", 1)",
      "QV_EnableUpdateStandbyTimer(" + a + ", 1)",
      "QV_EnableUpdateManuProdCtl(" + a + ", 1)",
      "QV_EnableUpdateInquiryCtl(" + a + ", 0)",
      "QV_SetVIDValue(" + a + ", \"1D6B\")",
      "QV_SetPIDValue(" + a + ", \"0105\")",
      "QV_SetSerialNumStr(" + a + ", \"00A9\")",
      "QV_SetScsiVidString(" + a + ", \"ACME\")",
      "QV_SetScsiPidString(" + a + ", \"BOX\")",
      "QV_SetStandbyTimer(" + a + ", 15)",
      "QV_SetManuProdCtl(" + a + ", 0)",
      "QV_SetInquiryCtl(" + a + ", 1)",
      "QV_SetUsbProdString(" + a + ", \"Box\tThree\")",
      "QV_SetUsbManuString(" + a + ", \"Maker\")",
      "QV_IsQVS87xSeries(" + b + ")",
      "QV_EnableUpdateVID(" + b + ", 1)",
      "QV_EnableUpdatePID(" + b + ", 0)",
      "QV_EnableUpdateSN(" + b + ", 1)",
      "QV_EnableUpdateStandbyTimer(" + b + ", 1)",
      "QV_EnableUpdateDisplayHDDStrSetting(" + b + ", 0)",
      "QV_EnableUpdateManuStr(" + b + ", 1)",
      "QV_EnableUpdateProdStr(" + b + ", 0)",
      "QV_SetVIDValue(" + b + ", \"1D6B\")",
      "QV_SetPIDValue(" + b + ", \"0105\")",
      "QV_SetSerialNumStr(" + b + ", \"00A9\")",
      "QV_SetScsiVidString(" + b + ", \"ACME\")",
      "QV_SetScsiPidString(" + b + ", \"BOX\")",
      "QV_SetStandbyTimer(" + b + ", 15)",
      "QV_EnableMapToHDDStr(" + b + ", 1)",
      "QV_SetSNFromNVRAMTable(" + b + ", 1)",
      "QV_SetManuStr(" + b + ", \"Maker\")",
      // Its own disk's serial number, not device 0's.
      "QV_GetDiskInfo(" + b + ", out)",
      "QV_SetProdString(" + b + ", \"WD-DISK-0042\")",
      "QV_EnableUpdatePretendSuperSetting(" + b + ", 1)",
      "QV_SetEnableMultiSector(" + b + ", 1)",
  };
  EXPECT_THAT(calls, ElementsAreArray(expected));
  EXPECT_EQ(state_.identityHandedOver[0], 1);
  EXPECT_EQ(state_.identityHandedOver[1], 1);
}

TEST_F(SdkIdentity, ASeriesProductGetsNoStandbyTimerWhenItsOptionIsOff) {
  Bench("[product series]\nchip = 22\n");
  Bind();
  ListAndEmpty();
  IdentityControls controls = Controls();
  controls.qvs871StandbyTime = false;
  for (const std::string& call : HandOver(controls)) EXPECT_EQ(call.find("QV_SetStandbyTimer"), std::string::npos);
}

TEST_F(SdkIdentity, SerialNumbersPerDevice) {
  Bench(testing::Products(25, 3));
  Bind();
  ListAndEmpty();
  struct Case {
    const char* serial;
    bool autoIncrement;
    std::vector<std::string> given;
    const char* enabled;  // QV_EnableUpdateSN's flag
  };
  const Case cases[] = {
      {"00A9", true, {"00A9", "00AA", "00AB"}, "1"},
      {"00A9", false, {"00A9", "00A9", "00A9"}, "1"},
      {"", true, {"", "", ""}, "0"},
      {"00ff", true, {"00ff", "0100", "0101"}, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    IdentityControls controls = Controls();
    controls.serialNumber = c.serial;
    controls.autoIncrement = c.autoIncrement;
    const std::vector<std::string> calls = HandOver(controls);
    std::vector<std::string> handed;
    for (const std::string& call : calls) {
      if (call.starts_with("QV_SetSerialNumStr(")) handed.push_back(LastArgument(call));
      if (call.starts_with("QV_EnableUpdateSN(")) {
        EXPECT_EQ(LastArgument(call), c.enabled);
      }
    }
    EXPECT_EQ(handed, c.given);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Serial(i), c.given[static_cast<size_t>(i)]) << i;
  }
}

// A value the library refuses stops that device's calls there; the next
// device starts afresh.
TEST_F(SdkIdentity, ARefusedVendorIdStopsEachDeviceAtItsVendorId) {
  Bench(testing::Products(25, 2));
  Bind();
  ListAndEmpty();
  IdentityControls controls = Controls();
  controls.vendorId = "XYZ";
  const std::vector<std::string> calls = HandOver(controls);
  const std::string a = "\"" + std::string(list_[0]) + "\"";
  const std::string b = "\"" + std::string(list_[1]) + "\"";
  std::vector<std::string> first, second;
  for (const std::string& call : calls) (call.find(a) != std::string::npos ? first : second).push_back(call);
  EXPECT_EQ(first.front(), "QV_IsQVS87xSeries(" + a + ")");
  EXPECT_EQ(first.back(), "QV_SetVIDValue(" + a + ", \"XYZ\")");
  EXPECT_EQ(second.front(), "QV_IsQVS87xSeries(" + b + ")");
  EXPECT_EQ(second.back(), "QV_SetVIDValue(" + b + ", \"XYZ\")");
  EXPECT_EQ(first.size(), second.size());
  EXPECT_EQ(state_.identityHandedOver[0], 0);
  EXPECT_EQ(state_.identityHandedOver[1], 0);
}

// The library's product-ID entry refusing one device's path.
struct RefusingPid {
  static inline std::string refusedPath;
  static inline QV_SetPIDValue_t real = nullptr;
  static int Set(const char* path, const char* hex) { return path == refusedPath ? 0 : real(path, hex); }
};

// A device that fails keeps the serial of the earlier hand-over (its update
// fails on the missing identity anyway), and the devices after it get the
// numbers they would have had.
TEST_F(SdkIdentity, AFailingDeviceShiftsNoOtherDevicesSerial) {
  Bench(testing::Products(25, 2));
  Bind();
  ListAndEmpty();
  IdentityControls controls = Controls();
  controls.autoIncrement = true;
  HandOver(controls);
  EXPECT_EQ(Serial(0), "00A9");
  EXPECT_EQ(state_.identityHandedOver[0], 1);

  RefusingPid::refusedPath = list_[0];
  RefusingPid::real = DeviceSdk().QV_SetPIDValue;
  DeviceSdk().QV_SetPIDValue = &RefusingPid::Set;
  ASSERT_EQ(DeviceSdk().QV_InitialCustomizedSettingTable(), 1);
  controls.serialNumber = "00B0";
  const std::vector<std::string> calls = HandOver(controls);
  EXPECT_EQ(state_.identityHandedOver[0], 0);
  EXPECT_EQ(Serial(0), "00A9");
  EXPECT_EQ(state_.identityHandedOver[1], 1);
  EXPECT_EQ(Serial(1), "00B1");
  for (const std::string& call : calls) {
    if (call.starts_with("QV_SetSerialNumStr(")) {
      EXPECT_EQ(LastArgument(call), "00B1");
    }
  }
}

TEST_F(SdkIdentity, AWorkingSerialIsCutToItsField) {
  Bench(testing::Products(25, 2));
  Bind();
  ListAndEmpty();
  IdentityControls controls = Controls();
  controls.serialNumber = std::string(200, '7');
  controls.autoIncrement = true;
  const std::vector<std::string> calls = HandOver(controls);
  // 79 characters and the terminator: within the library's limit of 80, and
  // nothing is read past the field.
  for (const std::string& call : calls) {
    if (call.starts_with("QV_SetSerialNumStr(")) {
      EXPECT_EQ(LastArgument(call).size(), 79u);
    }
  }
  EXPECT_EQ(Serial(0), std::string(79, '7'));
  EXPECT_EQ(Serial(1), std::string(78, '7') + "8");
}

// What was handed over is what each product shows to the system once the
// library wrote it and the product came back from its reset.
TEST_F(SdkIdentity, TheHandedOverIdentityIsShownAfterTheWriteAndAReset) {
  Bench(testing::Products(29, 2));
  Bind();
  ListAndEmpty();
  ASSERT_EQ(count_, 2);
  IdentityControls controls = Controls();
  controls.updatePid = true;
  controls.updateUsbProdString = true;
  controls.vendorId = "6A3E";
  controls.productId = "4649";
  controls.autoIncrement = true;
  controls.stringB = "Kestrova Bridge";
  controls.stringC = "Orvanta";
  HandOver(controls);
  for (int i = 0; i < count_; ++i) {
    ASSERT_EQ(state_.identityHandedOver[static_cast<size_t>(i)], 1) << i;
    ASSERT_NE(DeviceSdk().QV_UpdateCustomizedSetting(list_[i]), 0) << i;
  }
  for (int i = 0; i < count_; ++i) ASSERT_NE(DeviceSdk().QV_ChipReset(list_[i]), 0) << i;

  // Both come back after their reset; the bench's clock runs scaled.
  int32_t attached = count_;
  int64_t freeSpace = 0;
  for (int tries = 0; tries < 40 && ListAttachedDevices(list_, ports_, attached, freeSpace).count < 2; ++tries)
    platform::Sleep(500);
  ASSERT_EQ(attached, 2);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const SdkPortRecord& r = ports_[static_cast<size_t>(i)];
    EXPECT_EQ(r.vid, 0x6A3E);
    EXPECT_EQ(r.pid, 0x4649);
    EXPECT_EQ(std::string(r.systemSerial), i == 0 ? "00A9" : "00AA");
    char text[80] = {};
    ASSERT_NE(DeviceSdk().QV_GetManuStrfromOS(list_[i], text), 0);
    EXPECT_STREQ(text, "Orvanta");
    ASSERT_NE(DeviceSdk().QV_GetProdStrfromOS(list_[i], text), 0);
    EXPECT_STREQ(text, "Kestrova Bridge");
  }
}

}  // namespace
}  // namespace sdkstation
