// The second program's detail window on the bench through the library: the
// thirteen fields of the picked device, what a double click does without a
// usable pick, the record alone while device work runs, failed queries and
// library texts that fill their whole buffer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTreeWidget>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sdkstation/windows/detail_form.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using ::testing::IsEmpty;
using station::testing::Ini;

constexpr char kSelectPortFirst[] = "Please select one port to display by left port view first!!";

constexpr char kThreeDevices[] =
    "[product a]\nchip = 25\nvid = 0x152D\npid = 0x0a78\nmanufacturer = Maker A\nproduct = Bridge A\n"
    "serial = 5A0001\ninquiry.vendor = VEND\ninquiry.product = DISK PRODUCT\ndisk.firmware = FW12\n"
    "disk.sectors = 2097152\nletters = E\nuas = 1\n"
    "[product b]\nchip = 25\nserial = 5B0002\nletters = F\n"
    "[product c]\nchip = 25\nserial = 5C0003\nletters = G\n";

class SdkDetailWindow : public testing::SdkWindowTest {
 protected:
  TMainForm& StartWithDetail(const std::string& setting = "") {
    WriteIni(Ini(setting));
    TMainForm& form = Start();
    detail_ = std::make_unique<TDetailForm>();
    form.SetDetailForm(detail_.get());
    form.show();
    boxes_.clear();
    return form;
  }
  ~SdkDetailWindow() override {
    if (form_) form_->SetDetailForm(nullptr);
  }

  // The operator clicks the tree node at `position` (1-based).
  void PickPort(int position) { ClickPortNode(position - 1); }
  void DoubleClickList() {
    auto* list = Find<QTreeWidget>("ListView1");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->viewport()->rect().bottomRight() - QPoint(2, 2));
  }
  std::string Field(const char* name) const { return detail_->findChild<QLineEdit*>(name)->text().toStdString(); }
  int PositionOf(const std::string& serial) const {
    for (int i = 0; i < form_->DeviceCount(); ++i)
      if (form_->Pass().ports[static_cast<size_t>(i)].systemSerial == serial) return i + 1;
    return 0;
  }

  std::unique_ptr<TDetailForm> detail_;
};

TEST_F(SdkDetailWindow, ShowsThePickedDeviceFromItsRecordAndTheLibrary) {
  Bench(kThreeDevices);
  TMainForm& form = StartWithDetail();
  ASSERT_EQ(form.DeviceCount(), 3);
  const int position = PositionOf("5A0001");
  ASSERT_GT(position, 0);
  PickPort(position);
  EXPECT_EQ(form.SelectedPort, position);
  DoubleClickList();
  ASSERT_TRUE(detail_->isVisible());
  EXPECT_FALSE(detail_->isModal());
  EXPECT_EQ(Field("VendorIDEdit"), "152D");
  EXPECT_EQ(Field("ProductIDEdit"), "0A78");
  EXPECT_EQ(Field("SerialNumberEdit"), "5A0001");
  EXPECT_EQ(Field("HDCapEdit"), "1024 MB");
  EXPECT_EQ(Field("DiskLetterEdit"), "E");
  EXPECT_EQ(Field("ManufactureEdit"), "Maker A");
  EXPECT_EQ(Field("USBProductEdit"), "Bridge A");
  EXPECT_EQ(Field("DiskNameEdit"), "VEND DISK PRODUCT");
  EXPECT_EQ(Field("HDDFWRevEdit"), "FW12");
  EXPECT_EQ(Field("DeviceTypeEdit"), "UASP");
  EXPECT_FALSE(Field("ChipIDEdit").empty());
  EXPECT_FALSE(Field("SFlashTypeEdit").empty());
  EXPECT_TRUE(detail_->findChild<QLineEdit*>("HDDFWRevEdit")->isEnabled());

  // The same double click on another device fills every field anew.
  PickPort(PositionOf("5B0002"));
  DoubleClickList();
  EXPECT_EQ(Field("SerialNumberEdit"), "5B0002");
  EXPECT_EQ(Field("DiskLetterEdit"), "F");
  EXPECT_EQ(Field("DeviceTypeEdit"), "USB");
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(SdkDetailWindow, DoesNothingWithoutAUsablePick) {
  struct Case {
    const char* what;
    std::string bench;
    const char* setting;
    int pick;  // 0: none
    bool message;
  };
  const Case cases[] = {
      {"RD Version off, nothing picked", kThreeDevices, "MPVersion=1", 0, false},
      {"RD Version off, a device picked", kThreeDevices, "MPVersion=1", 1, false},
      {"nothing attached", "", "", 0, false},
      {"nothing picked", kThreeDevices, "", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench(c.bench);
    TMainForm& form = StartWithDetail(c.setting);
    if (c.pick) PickPort(c.pick);
    DoubleClickList();
    form.DblClickBtnClick();  // the button does what the double click does
    EXPECT_EQ(Messages(), c.message ? std::vector<std::string>(2, kSelectPortFirst) : std::vector<std::string>{});
    EXPECT_FALSE(detail_->isVisible());
    Close();
  }
  // Port 5 of 3: past the devices, nothing at all.
  Bench(kThreeDevices);
  TMainForm& form = StartWithDetail();
  form.SelectedPort = 5;
  testing::DebugLines debug;
  form.DblClickBtnClick();
  EXPECT_FALSE(detail_->isVisible());
  EXPECT_THAT(debug.Take("QV_"), IsEmpty());
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(SdkDetailWindow, WhileDeviceWorkRunsShowsTheRecordAndAsksTheLibraryNothing) {
  Bench(kThreeDevices);
  TMainForm& form = StartWithDetail();
  PickPort(PositionOf("5A0001"));
  form.SetRunActive(true);
  testing::DebugLines debug;
  DoubleClickList();
  form.SetRunActive(false);
  ASSERT_TRUE(detail_->isVisible());
  EXPECT_THAT(debug.Take("QV_"), IsEmpty());
  EXPECT_EQ(Field("SerialNumberEdit"), "5A0001");
  EXPECT_EQ(Field("VendorIDEdit"), "152D");
  EXPECT_EQ(Field("HDCapEdit"), "1024 MB");
  EXPECT_EQ(Field("DiskNameEdit"), "");
  EXPECT_EQ(Field("ManufactureEdit"), "");
}

TEST_F(SdkDetailWindow, FieldsOfFailedQueriesAndOfTheRecordsEdges) {
  Bench(kThreeDevices + std::string("[product d]\nchip = 21\nserial = 5D0004\n"));
  TMainForm& form = StartWithDetail();
  const int a = PositionOf("5A0001");
  // An INQUIRY that fails, by 0 or by a negative count, leaves the disk
  // name empty; so does a failed revision query.
  for (int failure : {0, -1}) {
    SCOPED_TRACE(failure);
    static int answer;
    answer = failure;
    DeviceSdk().QV_Inquiry = [](const char*, uint8_t* buffer, int, int*) {
      std::memset(buffer, 'Z', 40);
      return answer;
    };
    DeviceSdk().QV_GetDiskFWRevbySCSICmd = [](const char*, char* text) {
      std::strcpy(text, "JUNK");
      return 0;
    };
    PickPort(a);
    DoubleClickList();
    EXPECT_EQ(Field("DiskNameEdit"), "");
    EXPECT_EQ(Field("HDDFWRevEdit"), "");
  }
  // Texts that fill their whole buffer without an end are read to its end only.
  DeviceSdk().QV_GetChipTypeName = [](const char*, char* name) {
    std::memset(name, 'C', qvfw::kChipNameCapacity);
    return 1;
  };
  DeviceSdk().QV_GetMappingLetter = [](const char*, char* letter) {
    std::memset(letter, 'L', qvfw::kLetterCapacity);
    return 1;
  };
  DoubleClickList();
  EXPECT_EQ(Field("ChipIDEdit"), std::string(qvfw::kChipNameCapacity, 'C'));
  EXPECT_EQ(Field("DiskLetterEdit"), std::string(qvfw::kLetterCapacity, 'L'));

  // A capacity of 0 is shown as one.
  form.Pass().ports[static_cast<size_t>(a - 1)].capacityMB = 0;
  DoubleClickList();
  EXPECT_EQ(Field("HDCapEdit"), "0 MB");

  // A QVS87x device: the revision field is disabled; another enables it again.
  PickPort(PositionOf("5D0004"));
  DoubleClickList();
  EXPECT_FALSE(detail_->findChild<QLineEdit*>("HDDFWRevEdit")->isEnabled());
  PickPort(a);
  DoubleClickList();
  EXPECT_TRUE(detail_->findChild<QLineEdit*>("HDDFWRevEdit")->isEnabled());
}

}  // namespace
}  // namespace sdkstation
