// Safe removal, the key "0", the status bar's progress panel and the
// shut-down in the real window on the bench.
#include <QApplication>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "sim/device_removal.h"
#include "station/tests/configparser_reader.h"
#include "station/windows/tests/pass_window_fixture.h"
#include "station/windows/tests/removal_gate.h"

namespace station {
namespace {

using testing::Ini;
using testing::PassWindowTest;
using testing::StepProducts;

// The "RD Version" lock on (MPVersion 1, box unchecked): the key works only then.
constexpr char kSafeRemoveIni[] = "EnKey0SafeRemove=1\r\nMPVersion=1";

// One of two products held open by another program: its removal is vetoed
// five times; the other goes. One rescan, one warning; a Refresh pressed
// during the wait does nothing.
TEST_F(PassWindowTest, SafeRemovalWithOneVetoed) {
  WriteIni(Ini(kSafeRemoveIni));
  Bench(StepProducts(2));
  bench_->removal().HoldOpen(bench_->product(1), "STORAGE\\Volume\\{held-by-editor}");
  bench_->removal().SetDelay(200);
  TMainForm& form = Start();
  ASSERT_EQ(form.Pass().PresentDeviceCount.load(), 2);
  const int updates = portUpdates_.count;
  bool refusedInside = false;
  {
    testing::RemovalGate gate;
    QTimer::singleShot(0, &form, [&] {
      refusedInside = form.RemovalActive() && form.Waiting();
      form.RefreshBtnClick();
      form.SafeRmBtnClick();
      Button("ExecuteBtn")->click();
      testing::OpenRemovalGate();
    });
    Button("SafeRmBtn")->click();
    Pump();
  }
  EXPECT_TRUE(refusedInside);
  EXPECT_FALSE(form.RemovalActive());
  EXPECT_EQ(Messages(), std::vector<std::string>{"Unable to remove all device!"});
  EXPECT_FALSE(bench_->product(0).Online());
  EXPECT_TRUE(bench_->product(1).Online());
  EXPECT_EQ(bench_->removal().Requests(bench_->product(0)), 1);
  EXPECT_EQ(bench_->removal().Requests(bench_->product(1)), 15);
  EXPECT_EQ(portUpdates_.count, updates + 1);  // the removal's own rescan only
  EXPECT_EQ(form.Pass().PresentDeviceCount.load(), 1);
  EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));  // START was ignored

  // Let go of: the next removal takes it, without a word; the button turns green.
  bench_->removal().Release(bench_->product(1));
  boxes_.clear();
  Button("SafeRmBtn")->click();
  Pump();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(form.Pass().PresentDeviceCount.load(), 0);
  EXPECT_EQ(Button("SafeRmBtn")->palette().color(QPalette::ButtonText), QColor(0, 0x80, 0));
  // Nothing attached: the button does nothing.
  const int after = portUpdates_.count;
  Button("SafeRmBtn")->click();
  Pump();
  EXPECT_EQ(portUpdates_.count, after);
}

// The key "0" removes the products from anywhere in the window but a text
// entry, where it is a digit.
TEST_F(PassWindowTest, KeyZeroRemovesOutsideTextEntries) {
  struct Case {
    const char* focus;
    bool removes;
  };
  for (const Case c : {Case{"RefreshBtn", true}, Case{"YieldEdit", false}}) {
    SCOPED_TRACE(c.focus);
    form_.reset();
    WriteIni(Ini(kSafeRemoveIni, "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
    Bench(StepProducts(1));
    TMainForm& form = Start();
    form.show();
    QApplication::setActiveWindow(&form);
    QWidget* target = Find<QWidget>(c.focus);
    target->setFocus();
    Pump();
    ASSERT_EQ(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key_0);
    Pump();
    EXPECT_EQ(bench_->product(0).Online(), !c.removes);
  }
  // Switched off in the settings: the key does nothing.
  form_.reset();
  WriteIni(Ini(""));
  Bench(StepProducts(1));
  TMainForm& form = Start();
  form.show();
  QApplication::setActiveWindow(&form);
  Button("RefreshBtn")->setFocus();
  Pump();
  QTest::keyClick(Button("RefreshBtn"), Qt::Key_0);
  EXPECT_TRUE(bench_->product(0).Online());
}

// The progress bar fills panel 1 of the status bar (360, 260, 50).
TEST_F(PassWindowTest, ProgressBarSitsInItsPanel) {
  TMainForm& form = Start();
  form.resize(1100, 460);
  form.show();
  Pump();
  const QWidget* panel0 = Find<QWidget>("StatusBar1Panel0");
  const QWidget* panel1 = Find<QWidget>("StatusBar1Panel1");
  const QWidget* panel2 = Find<QWidget>("StatusBar1Panel2");
  EXPECT_EQ(panel0->width(), 360);
  EXPECT_EQ(panel1->width(), 260);
  EXPECT_EQ(panel2->width(), 50);
  const QProgressBar* bar = Find<QProgressBar>("ProgressBar1");
  EXPECT_EQ(bar->parentWidget(), panel1);
  EXPECT_EQ(bar->geometry(), panel1->rect());
  form.ShowProgress(42);
  EXPECT_EQ(bar->value(), 42);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel2")->text(), "42%");
}

// At the end: the settings go to a writable settings file, and to
// Kestrova.ini in the platform's Windows folder when another file is in
// use, which leaves the station's own Kestrova.ini beside the program as it
// was (also when there is no Windows folder to be had); the yield file is
// written whatever the settings file allows.
TEST_F(PassWindowTest, ShutDownSavesSettingsAndYield) {
  struct Case {
    const char* name;
    bool readOnly;
    bool otherFile;
    bool windowsFolder;
  };
  for (const Case c : {Case{"read-only", true, false, true}, Case{"another file", false, true, true},
                       Case{"another file, no Windows folder", false, true, false}}) {
    SCOPED_TRACE(c.name);
    form_.reset();
    std::filesystem::remove_all(Path("log"));
    std::filesystem::remove_all(Path("config"));
    std::filesystem::remove(Path(kSettingsFileName));
    std::filesystem::remove(Path("no-folder"));
    WriteIni(QuickIni());
    WriteFile("other.ini", QuickIni());
    WriteFile("no-folder", "a file where the configuration folder would be");
    std::optional<testing::ScopedEnvironment> noConfig;
    if (!c.windowsFolder) noConfig.emplace("XDG_CONFIG_HOME", Path("no-folder"));
    Bench(StepProducts(1));
    if (c.readOnly) ::chmod(Path(kSettingsFileName).c_str(), 0444);
    TMainForm& form = Start();
    if (c.otherFile) {
      files_.recorded.QueueAnswer(Path("other.ini"));
      QTest::mouseClick(Button("INILoadBtn"), Qt::LeftButton);
      ASSERT_EQ(form.IniPath(), Path("other.ini"));
    }
    QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
    Type(Edit("StringBEdit"), "Saved At Exit");
    Check(Box("EEPROMCheckBox"), true);
    ASSERT_TRUE(Box("EEPROMCheckBox")->isChecked());
    const std::string before = testing::Slurp(Path(kSettingsFileName));
    boxes_.clear();
    form_.reset();
    ::chmod(Path(kSettingsFileName).c_str(), 0644);

    EXPECT_EQ(Messages(), std::vector<std::string>{});
    const auto yield = testing::ReadIniWithPython(Path("log/QV4164x.log"), folder_);
    EXPECT_EQ(yield.at({"TestRecord", "TotalTestCount"}), "1");
    EXPECT_EQ(yield.at({"TestRecord", "NumberOfPass"}), "1");
    EXPECT_EQ(testing::Slurp(Path(kSettingsFileName)), before);
    const std::string windowsCopy = Path("config/kestrova/Windows/") + kSettingsFileName;
    if (c.otherFile) {
      const auto other = testing::ReadIniWithPython(Path("other.ini"), folder_);
      EXPECT_EQ(other.at({"QVEEPROM", "StringB"}), "Saved At Exit");
    }
    if (c.otherFile && c.windowsFolder) {
      const auto copy = testing::ReadIniWithPython(windowsCopy, folder_);
      EXPECT_EQ(copy.at({"QVEEPROM", "StringB"}), "Saved At Exit");
    } else {
      EXPECT_FALSE(std::filesystem::exists(windowsCopy));
    }
  }
}

}  // namespace
}  // namespace station
