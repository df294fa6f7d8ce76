// START and "Start Test" on the window: passes on the bench through the
// bound library, the serial number they leave, the test loop's passes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "sim/product.h"
#include "station/tests/configparser_reader.h"
#include "station/windows/tests/pass_gate.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

class SdkRunWindow : public testing::SdkWindowTest {
 public:
  // The identity and the serial, which every device takes advanced by one.
  void FillIdentity(const char* serial) {
    SdkWindowTest::FillIdentity(serial);
    Check(Box("Str3AutoInc"), true);
  }
};

TEST_F(SdkRunWindow, StartAdvancesTheSerialByTheDevicesHandedOne) {
  // Three devices were given 00FF, 0100 and 0101: the next run starts at
  // 0102, also when the pass removed them all safely and finds none after.
  for (const int safeRemove : {0, 1}) {
    SCOPED_TRACE(safeRemove);
    Bench(testing::Products(29, 3));
    WriteIni(Ini("MPSafeRemove=" + std::to_string(safeRemove) + "\r\nMPPassLabel=1",
                 "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
    TMainForm& form = Start();
    ASSERT_EQ(form.DeviceCount(), 3);
    FillIdentity("00FF");
    // The yield file of an earlier start holds on.
    const int32_t tested = form.Settings().TotalTestCount;
    const int32_t passed = form.Settings().NumberOfPass;
    form.ExecuteBtnClick();
    Pump();
    EXPECT_EQ(Edit("SerialNumberEdit")->text(), "0102");
    EXPECT_EQ(form.DeviceCount(), safeRemove ? 0 : 3);
    EXPECT_EQ(form.Settings().TotalTestCount - tested, 3);
    EXPECT_EQ(form.Settings().NumberOfPass - passed, 3);
    // The controls are open again for the next run.
    EXPECT_TRUE(Enabled("Panel1"));
    Close();
  }
}

TEST_F(SdkRunWindow, TheSerialAdvancesByItsAutoIncrementAlone) {
  // No identity update: nothing is handed over, yet the serial moves on by
  // the devices of every pass, as its auto-increment box says.
  struct Case {
    const char* button;
    const char* loops;
    const char* after;
  };
  for (const Case& c : {Case{"ExecuteBtn", "1", "0102"}, Case{"btnStartTest2", "2", "0105"}}) {
    SCOPED_TRACE(c.button);
    Bench(testing::Products(29, 3));
    WriteIni(Ini("MPPassLabel=1", "[QVEXECUTE]\r\nEnVenderCheck=1\r\n[QVEEPROM]\r\nString3=00FF\r\n"
                                  "String3Inc=1\r\n[LoopDebug]\r\nEnLoopDebug=1\r\n"));
    TMainForm& form = Start();
    form.show();
    ASSERT_FALSE(Box("EEPROMCheckBox")->isChecked());
    ASSERT_TRUE(Box("Str3AutoInc")->isChecked());
    ASSERT_EQ(Edit("SerialNumberEdit")->text(), "00FF");
    Type(Edit("lbTestLoopCnt"), c.loops);
    const int32_t passed = form.Settings().NumberOfPass;
    QTest::mouseClick(Button(c.button), Qt::LeftButton);
    Pump();
    EXPECT_EQ(form.Settings().NumberOfPass - passed, 3 * std::stoi(c.loops));
    EXPECT_EQ(Edit("SerialNumberEdit")->text(), c.after);
    Close();
  }
}

TEST_F(SdkRunWindow, SafeRemovalAfterARelinkRemovesEveryProduct) {
  // Sixteen QVS871 products are given their identity and reset: each comes
  // back under a new path, and the removal after the pass must take every
  // one of them by that path.
  Bench(testing::Products(21, 16, "reset_new_path = 1\n"));
  WriteIni(Ini("MPSafeRemove=1\r\nMPPortReset=1\r\nMPPassLabel=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 16);
  form.show();
  FillIdentity("0001");
  const int32_t passed = form.Settings().NumberOfPass;
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
  EXPECT_EQ(form.Settings().NumberOfPass - passed, 16);
  for (size_t i = 0; i < bench_->size(); ++i) {
    EXPECT_EQ(bench_->product(i).ResetCount(), 1) << i;
    EXPECT_FALSE(bench_->product(i).Online()) << i;
  }
  EXPECT_EQ(form.DeviceCount(), 0);
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "0011");
}

// A settings file that cannot keep the next serial number holds the run:
// the message, no device touched, the serial as it was. Once it can, the
// file holds the number the next run starts from.
TEST_F(SdkRunWindow, ARunHoldsWhileTheNextSerialCannotBeKept) {
  Bench(testing::Products(29, 2));
  WriteIni(Ini("MPPassLabel=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 2);
  FillIdentity("00FF");
  ASSERT_EQ(::chmod(Path("Kestrova.ini").c_str(), 0444), 0);
  boxes_.clear();
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_THAT(Messages(), ::testing::ElementsAre("Unable to write to " + Path("Kestrova.ini") +
                                                 "\nThe next serial number cannot be kept there, so no test "
                                                 "starts until it can."));
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "00FF");
  EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));

  ASSERT_EQ(::chmod(Path("Kestrova.ini").c_str(), 0644), 0);
  boxes_.clear();
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "0101");
  EXPECT_EQ(platform::IniFile(Path("Kestrova.ini")).Read("QVEEPROM", "String3"), "0101");
}

// Acts once while the window's pass waits for its workers.
class DuringPass : public station::testing::PassGate {
 public:
  DuringPass(TMainForm& form, sim::Bench& bench, std::function<void()> action)
      : PassGate(
            form, bench, [&form] { form.PostPortUpdate(); }, [&form] { return form.RunActive(); }, [] { return true; },
            std::move(action)) {}
};

// START keeps the number the next run starts from in the settings file
// before any device is given one: a station that dies during the pass
// gives none of these numbers out again.
TEST_F(SdkRunWindow, TheNextSerialIsInTheSettingsFileBeforeAnyDeviceWorks) {
  Bench(testing::Products(29, 3));
  WriteIni(Ini("MPPassLabel=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 3);
  form.show();
  FillIdentity("00FF");
  std::string kept;
  {
    DuringPass during(form, *bench_, [&] {
      const station::testing::IniEntries file = station::testing::ReadIniWithPython(Path("Kestrova.ini"), folder_);
      const auto serial = file.find({"QVEEPROM", "String3"});
      kept = serial != file.end() ? serial->second : "(none)";
    });
    QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
    EXPECT_TRUE(during.done);
  }
  EXPECT_EQ(kept, "0102");
  EXPECT_EQ(form.Settings().NumberOfPass, 3);
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "0102");
}

TEST_F(SdkRunWindow, TheWaitPanelShowsWhileThePassWaitsAndHidesAfterIt) {
  Bench(testing::Products(29, 2));
  WriteIni(Ini("MPPassLabel=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  TMainForm& form = Start();
  FillIdentity("0001");
  bool shownDuringPass = false;
  {
    DuringPass during(form, *bench_, [&] { shownDuringPass = Shown("WaitPanel"); });
    form.ExecuteBtnClick();
    Pump();
  }
  EXPECT_EQ(form.Settings().NumberOfPass, 2);
  EXPECT_TRUE(shownDuringPass);
  EXPECT_FALSE(Shown("WaitPanel"));
}

// A close while products are being worked on would cut them off mid-write:
// it is refused, the loop stops after its pass, every product of that pass
// ends whole, and the window closes then.
TEST_F(SdkRunWindow, ACloseDuringARunWaitsForItsPass) {
  struct Case {
    const char* button;
    const char* loops;
  };
  for (const Case& c : {Case{"ExecuteBtn", "1"}, Case{"btnStartTest2", "3"}}) {
    SCOPED_TRACE(c.button);
    Bench(testing::Products(29, 2));
    WriteIni(Ini("MPPassLabel=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[LoopDebug]\r\nEnLoopDebug=1\r\n"));
    TMainForm& form = Start();
    form.show();
    FillIdentity("0001");
    Edit("lbTestLoopCnt")->setText(c.loops);
    // The yield file of the case before holds on.
    const int32_t tested = form.Settings().TotalTestCount;
    const int32_t passed = form.Settings().NumberOfPass;
    bool closedInside = true;
    {
      DuringPass during(form, *bench_, [&] { closedInside = form.close(); });
      Button(c.button)->click();
      EXPECT_TRUE(during.done);
    }
    EXPECT_FALSE(closedInside);
    EXPECT_FALSE(form.RunActive());
    // One pass, both products through it.
    EXPECT_EQ(form.Settings().TotalTestCount - tested, 2);
    EXPECT_EQ(form.Settings().NumberOfPass - passed, 2);
    for (size_t i = 0; i < bench_->size(); ++i) EXPECT_TRUE(bench_->product(i).Online()) << i;
    EXPECT_TRUE(form.isVisible());
    Pump();
    EXPECT_FALSE(form.isVisible());
    Close();
  }
}

TEST_F(SdkRunWindow, ARunThatStopsEarlyLeavesTheControlsOpen) {
  // A collection that stops at a bad ID, and a run check that refuses
  // (no step selected): neither START nor the test loop keeps the panels
  // locked.
  Bench(testing::Products(29, 1));
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[LoopDebug]\r\nEnLoopDebug=1\r\n"));
  TMainForm& form = Start();
  Edit("lbTestLoopCnt")->setText("2");
  FillIdentity("0001");
  Edit("VendorIDEdit")->setText("XYZ");
  form.ExecuteBtnClick();
  EXPECT_TRUE(Enabled("Panel1"));
  form.btnStartTest2Click();
  EXPECT_TRUE(Enabled("Panel1"));
  Type(Edit("VendorIDEdit"), "13FE");
  Box("EEPROMCheckBox")->setChecked(false);
  form.btnStartTest2Click();
  EXPECT_TRUE(Enabled("Panel1"));
  EXPECT_EQ(form.Settings().TotalTestCount, 0);
}

TEST_F(SdkRunWindow, TheTestLoopErasesOnceThenRunsNormalPasses) {
  Bench(testing::Products(29, 2));
  WriteIni(Ini("MPPassLabel=1", "[QVEXECUTE]\r\nEnFWUpdate=1\r\n[LoopDebug]\r\nEnLoopDebug=1\r\n"));
  TMainForm& form = Start();
  TraceFirmwareEntries();
  DeviceSdk().QV_CheckLoadBinFileMatch = [](const char*, const char*) { return 1; };
  Type(Edit("FwFileNameEdit"), QString::fromStdString(Path("fw.bin")));
  WriteFile("fw.bin", std::string(1024, 'F'));
  Check(Box("cbEraseFlashForDebug"), true);
  ASSERT_TRUE(Box("cbEraseFlashForDebug")->isChecked());
  Type(Edit("lbTestLoopCnt"), "3");
  // The library's erase and update, counted on their way.
  static QV_SerialFlashErase_t realErase;
  static QV_FWUpdateProgrammingNoCustomizedSetting_t realUpdate;
  static std::atomic<int> erases;
  static std::atomic<int> updates;
  realErase = DeviceSdk().QV_SerialFlashErase;
  realUpdate = DeviceSdk().QV_FWUpdateProgrammingNoCustomizedSetting;
  erases = 0;
  updates = 0;
  DeviceSdk().QV_SerialFlashErase = [](const char* path) {
    ++erases;
    return realErase(path);
  };
  DeviceSdk().QV_FWUpdateProgrammingNoCustomizedSetting = [](const char* path) {
    ++updates;
    return realUpdate(path);
  };
  QTest::mouseClick(Button("btnStartTest2"), Qt::LeftButton);
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
  // One erase pass over both devices, then three normal passes.
  EXPECT_EQ(erases, 2);
  EXPECT_EQ(updates, 6);
  // The loop resets every product, and the setting stays so.
  EXPECT_EQ(form.Settings().MPPortReset, 1);
  EXPECT_TRUE(Enabled("Panel1"));
}

}  // namespace
}  // namespace sdkstation
