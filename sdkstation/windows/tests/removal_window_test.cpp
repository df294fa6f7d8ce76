// Safe removal through the library, the key "0" in every focus state, and
// the close asked for while device work runs, in the real window on the bench.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "sim/device_removal.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "station/windows/tests/removal_gate.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

// The "RD Version" lock on (MPVersion 1, box unchecked): the key works only then.
constexpr char kKeyZeroIni[] = "EnKey0SafeRemove=1\r\nMPVersion=1";

class SdkRemovalWindow : public testing::SdkWindowTest {};

// One of two devices held open by another program: it stays, the other
// goes; one warning. A second click, a Refresh and START during the wait
// do nothing.
TEST_F(SdkRemovalWindow, SafeRemovalWithOneHeldVolumeWarnsOnce) {
  Bench(testing::Products(29, 2));
  bench_->removal().HoldOpen(bench_->product(1), "STORAGE\\Volume\\{held-by-editor}");
  bench_->removal().SetDelay(200);
  WriteIni(Ini(""));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 2);
  bool activeInside = false;
  int countInside = -1;
  {
    station::testing::RemovalGate gate;
    QTimer::singleShot(0, &form, [&] {
      activeInside = form.RemovalActive();
      form.SafeRmBtnClick();
      form.RefreshBtnClick();
      Button("ExecuteBtn")->click();
      countInside = form.DeviceCount();
      station::testing::OpenRemovalGate();
    });
    Button("SafeRmBtn")->click();
    Pump();
  }
  EXPECT_TRUE(activeInside);
  EXPECT_EQ(countInside, 2);  // no listing under the removal
  EXPECT_FALSE(form.RemovalActive());
  EXPECT_EQ(Messages(), std::vector<std::string>{"Unable to remove all device!"});
  EXPECT_FALSE(bench_->product(0).Online());
  EXPECT_TRUE(bench_->product(1).Online());
  EXPECT_EQ(form.DeviceCount(), 1);
  EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));  // START was ignored

  // Let go of: the next removal takes it without a word; with nothing left
  // the button does nothing.
  bench_->removal().Release(bench_->product(1));
  boxes_.clear();
  Button("SafeRmBtn")->click();
  Pump();
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
  EXPECT_EQ(form.DeviceCount(), 0);
  Button("SafeRmBtn")->click();
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
}

TEST_F(SdkRemovalWindow, KeyZeroInEveryFocusState) {
  struct Case {
    const char* what;
    const char* setting;
    const char* focus;
    bool removes;
  };
  const Case cases[] = {
      {"a button", kKeyZeroIni, "RefreshBtn", true},
      {"the serial entry of bar-code mode", "EnKey0SafeRemove=1\r\nMPVersion=1\r\nEnBarcodeMode=1",
       "SerialNumberEdit", false},
      {"another text field", kKeyZeroIni, "YieldEdit", false},
      {"RD Version unlocked", "EnKey0SafeRemove=1", "RefreshBtn", false},
      {"switched off", "MPVersion=1", "RefreshBtn", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench(testing::Products(29, 1));
    WriteIni(Ini(c.setting, "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
    TMainForm& form = Start();
    form.show();
    QApplication::setActiveWindow(&form);
    QWidget* target = Find<QWidget>(c.focus);
    target->setEnabled(true);
    target->setFocus();
    Pump();
    ASSERT_EQ(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key_0);
    Pump();
    EXPECT_EQ(bench_->product(0).Online(), !c.removes);
    Close();
  }
}

// A close asked for while the removal waits comes after it.
TEST_F(SdkRemovalWindow, CloseWaitsForTheRemoval) {
  Bench(testing::Products(29, 1));
  bench_->removal().SetDelay(200);
  WriteIni(Ini(""));
  TMainForm& form = Start();
  form.show();
  bool closedInside = true;
  {
    station::testing::RemovalGate gate;
    QTimer::singleShot(0, &form, [&] {
      closedInside = form.close();
      station::testing::OpenRemovalGate();
    });
    Button("SafeRmBtn")->click();
  }
  EXPECT_FALSE(closedInside);
  EXPECT_TRUE(form.isVisible());
  Pump();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(bench_->product(0).Online());
}

}  // namespace
}  // namespace sdkstation
