// The bar-code entry of the second program: a scan of the configured length
// ended by Enter starts the run; a wrong length, no device or chips of two
// models start nothing and empty the entry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <filesystem>
#include <string>
#include <vector>

#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

constexpr char kBarcodeIni[] = "EnBarcodeMode=1";
constexpr char kBarcodeEeprom[] =
    "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nBarcodeLength=12\r\n";

class SdkBarcodeWindow : public testing::SdkWindowTest {
 public:
  // The scanner types the code, then Enter.
  void Scan(const QString& code) {
    QLineEdit* entry = Edit("SerialNumberEdit");
    entry->clear();
    QTest::keyClicks(entry, code);
    QTest::keyClick(entry, Qt::Key_Return);
    Pump();
  }
};

TEST_F(SdkBarcodeWindow, TheExactLengthStartsOneShortDoesNot) {
  Bench(testing::Products(29, 2));
  WriteIni(Ini(kBarcodeIni, kBarcodeEeprom));
  TMainForm& form = Start();
  ASSERT_EQ(form.DeviceCount(), 2);
  FillIdentity("");
  Scan("00000000ABC");  // 11 of 12
  EXPECT_EQ(Messages(), std::vector<std::string>{"BarCode Length Don't match INI setting"});
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "");
  EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));
  boxes_.clear();
  Scan("00000000abcd");  // scanned lower-case: taken upper-case
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
  EXPECT_TRUE(std::filesystem::exists(form.DayLogPath()));
  EXPECT_EQ(form.Settings().TotalTestCount, 2);
}

// The focus and the emptied entry come with the window's activation and
// the end of a refresh, never with a repaint, which would eat a scan.
TEST_F(SdkBarcodeWindow, ActivationReadiesTheEntryARepaintLeavesItAlone) {
  Bench(testing::Products(29, 1));
  WriteIni(Ini(kBarcodeIni, kBarcodeEeprom));
  TMainForm& form = Start();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_TRUE(form.AutoStartReady());
  EXPECT_EQ(QApplication::focusWidget(), Edit("SerialNumberEdit"));
  QTest::keyClicks(Edit("SerialNumberEdit"), "ABC");
  form.repaint();
  Pump();
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "ABC");

  // Back from another window: a fresh entry with the focus.
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "");
  EXPECT_EQ(QApplication::focusWidget(), Edit("SerialNumberEdit"));

  QTest::keyClicks(Edit("SerialNumberEdit"), "ABC");
  form.RefreshBtnClick();
  EXPECT_EQ(Edit("SerialNumberEdit")->text(), "");
}

TEST_F(SdkBarcodeWindow, StartsNothingWhenTheDevicesAreNotReady) {
  struct Case {
    const char* what;
    std::string bench;
    const char* message;
  };
  const Case cases[] = {
      {"no device", "", "Device is not Ready ! or Device is not connected !"},
      {"two models", testing::Products(29, 1) + "[product other]\nchip = 25\nserial = 59\n",
       "Chips are Different model !"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench(c.bench);
    WriteIni(Ini(kBarcodeIni, kBarcodeEeprom));
    TMainForm& form = Start();
    boxes_.clear();
    Scan("00000000ABCD");
    EXPECT_EQ(Messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(Edit("SerialNumberEdit")->text(), "");
    EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));
    Close();
  }
}

}  // namespace
}  // namespace sdkstation
