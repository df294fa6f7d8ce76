// The option and edit handlers of the main window, driven through its
// widgets: clicks, typing, pasting and choosing.
#include <QClipboard>
#include <QGuiApplication>
#include <QProgressBar>

#include "station/step_helpers.h"
#include "station/windows/pass_form.h"
#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::Products;
using testing::WindowTest;

void Paste(QLineEdit* edit, const QString& text) {
  QGuiApplication::clipboard()->setText(text);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
}

TEST_F(WindowTest, BoxesThatExcludeEachOther) {
  Bench(Products(21, 1));
  Start();
  const std::pair<const char*, const char*> pairs[] = {{"FWUpdateCheckBox", "FWCheckBox"},
                                                       {"enU3CheckBox", "enU31Gen2CheckBox"}};
  for (const auto& [a, b] : pairs) {
    QTest::mouseClick(Box(a), Qt::LeftButton);
    QTest::mouseClick(Box(b), Qt::LeftButton);
    EXPECT_FALSE(Box(a)->isChecked()) << a;
    EXPECT_TRUE(Box(b)->isChecked()) << b;
    Box(a)->setChecked(true);  // from code too
    EXPECT_FALSE(Box(b)->isChecked()) << b;
  }
  EXPECT_TRUE(Enabled("LoadFWButton"));
  EXPECT_TRUE(Enabled("FwFileNameEdit"));
}

TEST_F(WindowTest, FormatBoxCarriesPartitionAndItsChoices) {
  Bench(Products(13, 1));
  Start();
  for (const bool on : {true, false}) {
    Box("FormatCheckBox")->setChecked(on);
    EXPECT_EQ(Box("PartitionCheckBox")->isChecked(), on);
    EXPECT_EQ(Enabled("VolumeLabeledEdit"), on);
    EXPECT_EQ(Enabled("FmtTypeComboBox"), on);
  }
}

TEST_F(WindowTest, Fat32LabelAndClusterChoice) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnFormat=1\r\nFmtSecPerClus=512\r\nDiskLabel=A LONG LABEL X\r\n"));
  Bench(Products(13, 1));
  Start();
  EXPECT_TRUE(Shown("FmtSecPerClusCbox"));
  boxes_.clear();
  Choose(Combo("FmtTypeComboBox"), kFileSystemFat32);
  EXPECT_EQ(Edit("VolumeLabeledEdit")->text(), "A LONG LABE");
  EXPECT_EQ(Messages(), std::vector<std::string>{"FAT32 only support Volume label 11 characters!"});
  EXPECT_EQ(boxes_.boxes()[0].caption, "Message");
  EXPECT_FALSE(Shown("FmtSecPerClusCbox"));
  Type(Edit("VolumeLabeledEdit"), "TWELVE CHARS");
  EXPECT_EQ(Edit("VolumeLabeledEdit")->text(), "TWELVE CHAR");
  Choose(Combo("FmtTypeComboBox"), kFileSystemNtfs);
  EXPECT_TRUE(Shown("FmtSecPerClusCbox"));
}

TEST_F(WindowTest, EepromUpdateAndVerifyGroups) {
  Bench(Products(29, 1));
  TMainForm& form = Start();
  Combo("Q646FlashComboBox")->setCurrentIndex(1);
  QTest::mouseClick(Box("EEPROMCheckBox"), Qt::LeftButton);
  EXPECT_TRUE(Shown("GroupBox2"));
  EXPECT_TRUE(Shown("Panel5"));
  EXPECT_TRUE(Shown("GroupBox4"));
  EXPECT_EQ(form.Q646FlashChoice(), 1);
  QTest::mouseClick(Box("EEPROMVerifyBox"), Qt::LeftButton);
  EXPECT_FALSE(Box("EEPROMCheckBox")->isChecked());
  EXPECT_TRUE(Shown("EEVerifyGroup"));
  EXPECT_FALSE(Shown("GroupBox2"));
  EXPECT_FALSE(Shown("GroupBox4"));
  EXPECT_EQ(form.Q646FlashChoice(), 255);
  QTest::mouseClick(Box("EEPROMCheckBox"), Qt::LeftButton);
  EXPECT_FALSE(Box("EEPROMVerifyBox")->isChecked());
  EXPECT_FALSE(Shown("EEVerifyGroup"));
  EXPECT_FALSE(Shown("EnableUSBFirst"));
}

TEST_F(WindowTest, CapacityChoiceAndItsEdit) {
  TMainForm& form = Start();
  Choose(Combo("CapChkCmbx"), 1);
  EXPECT_EQ(form.Settings().Capacity, 1);
  EXPECT_TRUE(Enabled("CapacityUserDefEdit"));
  Choose(Combo("CapChkCmbx"), 2);
  EXPECT_EQ(form.Settings().Capacity, 80);
  EXPECT_FALSE(Enabled("CapacityUserDefEdit"));
}

// Digits-only edits: letters cannot be typed, and a paste brings in only its
// digits, so the value is never a conversion error.
TEST_F(WindowTest, NumberEditsTakeDigitsOnly) {
  WriteIni(Ini("", "[QVEEPROM]\r\nStandbyTimer=5\r\n"));
  TMainForm& form = Start();
  Type(Edit("TimerEdit"), "1a2");
  EXPECT_EQ(Edit("TimerEdit")->text(), "12");
  EXPECT_EQ(form.Settings().StandbyTimer, 12);
  Paste(Edit("TimerEdit"), "abc");
  EXPECT_EQ(Edit("TimerEdit")->text(), "");
  EXPECT_EQ(form.Settings().StandbyTimer, 0);
  Paste(Edit("CapacityUserDefEdit"), "-7x");
  EXPECT_EQ(Edit("CapacityUserDefEdit")->text(), "7");
  EXPECT_EQ(form.Settings().CapacityCustomize, 7);
  Paste(Edit("CapacityUserDefEdit"), "GB");
  EXPECT_EQ(form.Settings().CapacityCustomize, 0);
  // Enter passes the timer's filter, not the capacity's.
  EXPECT_EQ(form.TimerEditKeyPress('\r'), '\r');
  EXPECT_EQ(form.CapacityUserDefEditKeyPress('\r'), 0);
}

TEST_F(WindowTest, HexKeyFilter) {
  struct Case {
    const char* setting;
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {"", "zq1a-f", "1AF"},
      {"MPSnAToZ=1", "zq1a-f", "ZQ1AF"},
  };
  for (const Case& c : cases) {
    form_.reset();
    WriteIni(Ini(c.setting));
    Start();
    for (const char* name : {"VendorIDEdit", "vfPIDEdit", "maxSNEdit"}) {
      Type(Edit(name), c.typed);
      EXPECT_EQ(Edit(name)->text(), c.shown) << name << " " << c.setting;
    }
  }
}

TEST_F(WindowTest, StringCTakesThirtyCharacters) {
  Start();
  Type(Edit("StringCEdit"), QString(35, 'c'));
  EXPECT_EQ(Edit("StringCEdit")->text().size(), 30);
}

TEST_F(WindowTest, YieldResetAndFirmwareFileChoice) {
  WriteFile("fw.bin", std::string(64, '\0'));
  Bench(Products(21, 1));
  TMainForm& form = Start();
  form.Settings().TotalTestCount = 9;
  form.Settings().NumberOfPass = 8;
  QTest::mouseClick(Button("ResetYieldBtn"), Qt::LeftButton);
  EXPECT_EQ(Edit("YieldEdit")->text(), "0 / 0");
  EXPECT_EQ(form.Settings().TotalTestCount, 0);

  form.LoadFWButtonClick();  // cancelled
  EXPECT_EQ(Edit("FwFileNameEdit")->text(), "");
  files_.recorded.QueueAnswer(Path("fw.bin"));
  boxes_.clear();
  form.LoadFWButtonClick();
  EXPECT_EQ(Edit("FwFileNameEdit")->text(), QString::fromStdString(Path("fw.bin")));
  EXPECT_EQ(FieldText(form.Settings().FwFileName), Path("fw.bin"));
  // Not a firmware of the attached chip.
  EXPECT_EQ(Messages(), std::vector<std::string>{"Firmware File not support all chips!"});
  EXPECT_FALSE(Button("ExecuteBtn")->isEnabled());
  EXPECT_EQ(files_.recorded.requests().back().initialFolder, folder_);
}

// The focus and the emptied serial entry of bar-code mode come with the
// window's activation and the end of a refresh, never with a repaint.
TEST_F(WindowTest, RepaintNeitherMovesFocusNorEmptiesTheSerialEntry) {
  WriteIni(Ini("EnBarcodeMode=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_TRUE(form.Mix().AutoStartReady);
  EXPECT_EQ(QApplication::focusWidget(), Edit("String3Edit"));
  QTest::keyClicks(Edit("String3Edit"), "ABC");
  form.repaint();
  Pump();
  EXPECT_EQ(Edit("String3Edit")->text(), "ABC");
  form.RefreshBtnClick();
  EXPECT_EQ(Edit("String3Edit")->text(), "");
}

TEST_F(WindowTest, SourceBoxesOfTheQvs87x) {
  Bench(Products(21, 1));
  Start();
  Box("InquirySosctlchk")->setChecked(true);
  Box("InquirySosctlchk")->setChecked(false);
  EXPECT_FALSE(Enabled("VendorStrEdit"));
  EXPECT_FALSE(Enabled("StrALabel"));
  Box("ManuProdSosctlchk")->setChecked(true);
  EXPECT_TRUE(Enabled("StringBEdit"));
  Box("ManuProdSosctlchk")->setChecked(false);
  EXPECT_FALSE(Enabled("StringCEdit"));
  // Hidden (no QVS87x): the edits are usable whatever the box says.
  Find<QWidget>("ManuProdSosctlchk")->hide();
  form_->ManuProdSosctlchkClick();
  EXPECT_TRUE(Enabled("StringBEdit"));
}

TEST_F(WindowTest, RefreshButtonClearsTheLastResult) {
  Bench(Products(13, 1));
  TMainForm& form = Start();
  TPassForm result(&form);
  form.SetPassForm(&result);
  result.ShowResult();
  Find<QWidget>("StatusLabel")->show();
  Find<QProgressBar>("ProgressBar1")->setValue(40);
  QTest::mouseClick(Button("RefreshBtn"), Qt::LeftButton);
  EXPECT_FALSE(result.isVisible());
  EXPECT_FALSE(Shown("StatusLabel"));
  EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->value(), 0);
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel2")->text(), "0%");
}

TEST_F(WindowTest, ResultWindowShowsOneWordAndGivesTheFocusBack) {
  Bench(Products(13, 1, "disk.sectors = 156250000\n"));
  WriteIni(Ini("", "[QVEXECUTE]\r\nCapacity=120\r\n"));  // START stays disabled
  TMainForm& form = Start();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  TPassForm result(&form);
  for (const int32_t value : {0, 1, -1}) {
    result.result = value;
    result.ShowResult();
    EXPECT_TRUE(result.isVisible());
    EXPECT_EQ(OwnVisibleFlag(result.findChild<QLabel*>("passLabel")), value != 0);
    EXPECT_EQ(OwnVisibleFlag(result.findChild<QLabel*>("failLabel")), value == 0);
  }
  result.close();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_EQ(QApplication::focusWidget(), Button("RefreshBtn"));
}

}  // namespace
}  // namespace station
