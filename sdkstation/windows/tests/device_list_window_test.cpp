// The device list as the second program's window shows it: the speed
// panel, the controls a QVS87x product disables, START and the automatic
// start, and the free space learned from a device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>

#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "sim/product.h"
#include "station/windows/control_events.h"
#include "station/windows/port_views.h"

namespace sdkstation {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using station::testing::Ini;

constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kGreen = 0x008000;

class SdkDeviceListWindow : public testing::SdkWindowTest {
 public:
  QColor TextColor(const char* name) const { return Find<QWidget>(name)->palette().color(QPalette::WindowText); }
  int NodeImage(int slot) const {
    return Find<QTreeWidget>("TreeView1")->topLevelItem(slot)->data(0, station::kPortNodeImageRole).toInt();
  }
};

std::string ProductsAt(const std::vector<const char*>& speeds, int chip = 25) {
  std::string text;
  for (size_t i = 0; i < speeds.size(); ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = " + std::to_string(chip) + "\nspeed = " + speeds[i] + "\n";
  return text;
}

TEST_F(SdkDeviceListWindow, TheSpeedPanelShowsTheSlowestDevice) {
  struct Case {
    std::vector<const char*> speeds;
    const char* text;
    uint32_t color;
  };
  const Case cases[] = {
      {{"superplus", "super"}, "USB 3.1 Gen 1", kBlue},
      {{"superplus", "superplus"}, "USB 3.1 Gen 2", kBlue},
      {{"superplus", "high"}, "USB 2.0", kRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Bench(ProductsAt(c.speeds));
    WriteIni(Ini(""));
    Start();
    EXPECT_TRUE(Shown("USB3Panel"));
    EXPECT_EQ(Find<QLabel>("USB3Panel")->text().toStdString(), c.text);
    EXPECT_EQ(TextColor("USB3Panel"), station::BgrColor(c.color));
    Close();
  }
  // Not one speed known: never a faster panel than USB 2.0.
  Bench(ProductsAt({"superplus"}));
  WriteIni(Ini(""));
  TMainForm& form = Start();
  DeviceSdk().QV_GetUSBSpeed = [](const char*, int*) { return 0; };
  form.EnumUSBDevice();
  EXPECT_EQ(Find<QLabel>("USB3Panel")->text().toStdString(), "USB 2.0");
  EXPECT_EQ(TextColor("USB3Panel"), station::BgrColor(kRed));
}

TEST_F(SdkDeviceListWindow, NothingAttached) {
  WriteIni(Ini(""));
  TMainForm& form = Start();
  EXPECT_EQ(form.DeviceCount(), 0);
  EXPECT_FALSE(Enabled("ExecuteBtn"));
  EXPECT_FALSE(Shown("USB3Panel"));
  EXPECT_EQ(TextColor("SafeRmBtn"), station::BgrColor(kGreen));
  for (int slot = 0; slot < 16; ++slot) EXPECT_EQ(NodeImage(slot), 0);
  portUpdates_.count = 0;
  Button("RefreshBtn")->click();
  Pump();
  EXPECT_EQ(portUpdates_.count, 1);
}

TEST_F(SdkDeviceListWindow, AQvs87xProductDisablesTheDiskControlsAndItsRemovalEnablesThem) {
  Bench("[product series]\nchip = 21\n[product other]\nchip = 25\n");
  WriteIni(Ini(""));
  Start();
  const char* const controls[] = {"PartitionCheckBox", "FormatCheckBox",    "FmtTypeComboBox", "FmtSecPerClusCbox",
                                  "VolumeLabeledEdit", "RWTestCheckBox",    "vfVolumnLabelEdit", "vfVolLabelChk",
                                  "vfHDDFWRevEdit",    "vfHDDFWRevChk",     "SWCopyChkBox",    "enFolderCPChk",
                                  "bAdvCompareChk",    "SwImgPathEdit",     "DstISOEdit",      "CapacityUserDefEdit",
                                  "CapChkCmbx"};
  for (const char* control : controls) EXPECT_FALSE(Enabled(control)) << control;
  EXPECT_TRUE(Shown("ManuProdSosctlchk"));
  EXPECT_TRUE(Shown("InquirySosctlchk"));
  EXPECT_EQ(NodeImage(0), 1);
  EXPECT_EQ(NodeImage(1), 1);

  bench_->product(0).Unplug();
  Button("RefreshBtn")->click();
  for (const char* control : controls) EXPECT_TRUE(Enabled(control)) << control;
  EXPECT_FALSE(Shown("ManuProdSosctlchk"));
  EXPECT_EQ(NodeImage(1), 0);
}

TEST_F(SdkDeviceListWindow, StartAndTheAutomaticStart) {
  struct Case {
    const char* what;
    std::string bench;
    std::string setting;
    bool start;
    bool autoStartReady;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"one model", testing::Products(25, 2), "", true, false, {}},
      {"two models", testing::Products(25, 1) + "[product x]\nchip = 21\n", "", false, false,
       {"Multiple devices must be of the same Chip model!"}},
      {"auto-run", testing::Products(25, 2), "MPAutorun=1", false, true, {}},
      {"bar-code", testing::Products(25, 2), "EnBarcodeMode=1", false, true, {}},
      {"nothing attached", "", "MPAutorun=1", false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench(c.bench);
    WriteIni(Ini(c.setting));
    boxes_.clear();
    TMainForm& form = Start();
    EXPECT_EQ(Enabled("ExecuteBtn"), c.start);
    EXPECT_EQ(form.AutoStartReady(), c.autoStartReady);
    EXPECT_EQ(Messages(), c.messages);
    // Nothing may start while a run is active.
    form.SetRunActive(true);
    form.CheckDeviceMix(-1);
    EXPECT_FALSE(Enabled("ExecuteBtn"));
    portUpdates_.count = 0;
    form.EnumUSBDevice();
    Pump();
    EXPECT_EQ(portUpdates_.count, c.bench.empty() ? 1 : 0);  // the rows wait for the pass
    form.SetRunActive(false);
    Close();
  }
}

TEST_F(SdkDeviceListWindow, AFreeSpaceLearnedFromADeviceIsUsedNotSaved) {
  Bench("[product a]\nchip = 25\nvolume.free = 2G\n");
  WriteIni(Ini("", "[QVEXECUTE]\r\nFreeSpace=0\r\nEnFreeSpaceCheck=1\r\n"));
  TMainForm& form = Start();
  EXPECT_EQ(form.Settings().FreeSpace, 2LL << 30);
  Close();
  EXPECT_EQ(platform::IniFile(Path("Kestrova.ini")).Read("QVEXECUTE", "FreeSpace"), "0");

  WriteIni(Ini("", "[QVEXECUTE]\r\nFreeSpace=5000\r\n"));
  EXPECT_EQ(Start().Settings().FreeSpace, 5000);
}

TEST_F(SdkDeviceListWindow, TheStandbyTimerEdit) {
  Bench(testing::Products(25, 1));
  for (const auto& [timer, shown] : {std::pair{"-1", false}, std::pair{"20", true}}) {
    SCOPED_TRACE(timer);
    WriteIni(Ini("", std::string("[QVEEPROM]\r\nStandbyTimer=") + timer + "\r\n"));
    Start();
    EXPECT_EQ(Shown("TimerEdit"), shown);
    if (shown) {
      EXPECT_EQ(Edit("TimerEdit")->text().toStdString(), timer);
    }
    Close();
  }
}

}  // namespace
}  // namespace sdkstation
