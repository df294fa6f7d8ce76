// START's loop in the real window: loop counts, Stop between passes,
// StopOnFail, the bar-code start; what is refused while a pass waits; the
// preconditions and a collection error, each leaving the controls unlocked.
#include <QProgressBar>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "station/settings_engine.h"
#include "station/tests/configparser_reader.h"
#include "station/windows/control_events.h"
#include "station/windows/tests/pass_window_fixture.h"

namespace station {
namespace {

using testing::DuringPass;
using testing::Ini;
using testing::PassWindowTest;
using testing::StepProducts;

constexpr char kLoopDebug[] = "[LoopDebug]\r\nEnLoopDebug=1\r\n";

// The number typed in the loop field, or whether Stop was pressed during
// the second pass: counts that mean "1000 rounds" stop only there.
TEST_F(PassWindowTest, LoopCountAndStop) {
  struct Case {
    const char* typed;
    bool loopDebug;
    bool stop;  // pressed while the second pass waits
    size_t passes;
  };
  const Case cases[] = {
      {"3", true, false, 3}, {"0", true, true, 2}, {"-5", true, true, 2}, {"", true, true, 2},
      {"abc", true, true, 2}, {"99999999999", true, true, 2},
      {"3", false, false, 1},  // without the debug panel one round
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    form_.reset();
    WriteIni(QuickIni("", c.loopDebug ? kLoopDebug : ""));
    Bench(StepProducts(2));
    std::filesystem::remove_all(Path("log"));
    std::filesystem::create_directories(Path("log"));
    TMainForm& form = Start();
    Edit("lbTestLoopCnt")->setText(c.typed);
    // Stop, pressed while the second pass waits (the first one is logged).
    DuringPass stop(form, *bench_, [&] { return c.stop && LogLines() >= 3; }, [&] { Button("BtnStopTest")->click(); });
    Button("ExecuteBtn")->click();
    EXPECT_EQ(LogLines(), 1 + 2 * c.passes);
    EXPECT_FALSE(form.RunActive());
    EXPECT_TRUE(Find<QWidget>("Panel1")->isEnabled());
  }
}

// A settings file that cannot keep the next serial number holds the whole
// run: one message, no pass, the serial as it was. Once the file can take
// it, START runs its rounds and the file holds the number after them.
TEST_F(PassWindowTest, ARunHoldsWhileTheSerialsCannotBeKept) {
  WriteIni(Ini("MPResetWait=10", std::string(kLoopDebug) +
                                     "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nString3=000000000101\r\n"
                                     "String3Inc=1\r\n"));
  Bench(StepProducts(2));
  Start();
  const std::string ini = Path(kSettingsFileName);
  ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
  Type(Edit("lbTestLoopCnt"), "3");
  boxes_.clear();
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  std::string box = kSerialNotKept;
  box.replace(box.find("%s"), 2, ini);
  EXPECT_EQ(Messages(), std::vector<std::string>{box});
  EXPECT_FALSE(std::filesystem::exists(form_->DayLogPath()));
  EXPECT_EQ(Edit("String3Edit")->text(), "000000000101");

  ASSERT_EQ(::chmod(ini.c_str(), 0644), 0);
  boxes_.clear();
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(LogLines(), 1u + 2 * 3);
  EXPECT_EQ(Edit("String3Edit")->text(), "000000000107");
  EXPECT_EQ((testing::ReadIniWithPython(ini, folder_).at({"QVEEPROM", "String3"})), "000000000107");
}

// While a pass waits, a second START (the debug panel's or the bar-code's),
// Refresh, Load and Save INI and safe removal do nothing; a close waits for
// the pass and comes after its log.
TEST_F(PassWindowTest, WhatAPassWaitingRefuses) {
  WriteIni(QuickIni("EnKey0SafeRemove=1", kLoopDebug));
  Bench(StepProducts(2));
  TMainForm& form = Start();
  int closes = 0;
  struct CloseCounter : QObject {
    int* n;
    explicit CloseCounter(int* count) : n(count) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Close) ++*n;
      return false;
    }
  } closeCounter(&closes);
  form.installEventFilter(&closeCounter);
  bool progressStayed = false;
  DuringPass during(form, *bench_, [] { return true; }, [&] {
    Button("btnStartTest2")->click();
    form.RefreshBtnClick();
    progressStayed = OwnVisibleFlag(Find<QWidget>("ProgressBar1"));
    form.INILoadBtnClick();
    form.INISaveBtnClick();
    form.SafeRmBtnClick();
    form.close();
  });
  Button("ExecuteBtn")->click();
  EXPECT_TRUE(during.done);
  EXPECT_TRUE(progressStayed);
  EXPECT_TRUE(files_.recorded.requests().empty());
  for (size_t i = 0; i < bench_->size(); ++i) EXPECT_TRUE(bench_->product(i).Online());
  EXPECT_EQ(LogLines(), 3u);  // one pass, fully logged
  EXPECT_EQ(Find<QLabel>("StatusBar1Panel0")->text(), "Closing once the running test has ended.");
  EXPECT_EQ(closes, 1);
  Pump();
  EXPECT_EQ(closes, 2);  // the close came once the run had ended
}

// The bar-code start: Enter after exactly BarcodeLength characters starts
// the run with the scanned serial; a shorter scan is refused and cleared.
TEST_F(PassWindowTest, BarcodeStartNeedsTheExactLength) {
  for (const int length : {12, 11}) {
    SCOPED_TRACE(length);
    form_.reset();
    std::filesystem::remove_all(Path("log"));
    std::filesystem::create_directories(Path("log"));
    WriteIni(Ini("EnBarcodeMode=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nBarcodeLength=12\r\n"));
    Bench(StepProducts(1));
    TMainForm& form = Start();
    ASSERT_TRUE(form.Mix().AutoStartReady) << ::testing::PrintToString(Messages());
    boxes_.clear();
    QLineEdit* entry = Edit("String3Edit");
    entry->clear();
    QTest::keyClicks(entry, QString("00000000ABCD").left(length));
    QTest::keyClick(entry, Qt::Key_Return);
    if (length == 12) {
      EXPECT_EQ(LogLines(), 2u);
      EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
    } else {
      EXPECT_EQ(Messages(), std::vector<std::string>{"BarCode Length Don't match INI setting"});
      EXPECT_EQ(entry->text(), "");
      EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));
    }
  }
}

// Every early way out of START leaves the settings collected and the
// controls unlocked, and starts no pass.
TEST_F(PassWindowTest, PreconditionsAndCollectionErrorsUnlock) {
  struct Case {
    const char* name;
    std::string execute;
    std::function<void(PassWindowTest&)> before;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"no step", "", nullptr, {}},
      {"serial blank", "EnEEPROMUpdate=1\r\n", [](PassWindowTest& t) { t.Edit("String3Edit")->clear(); },
       {"S/N String field can not be blank."}},
      {"image path", "EnSWCopy=1\r\nSwImgPath=/no/such/folder\\*.*\r\n", nullptr,
       {"Please make sure the software image path valid!"}},
      {"firmware name", "EnFWCheck=1\r\n", nullptr, {"Please make sure the correct firmware filename!"}},
      {"vendor ID", "EnEEPROMUpdate=1\r\n",
       [](PassWindowTest& t) {
         SetText(t.Edit("VendorIDEdit"), "XYZ");
         t.boxes_.clear();
       },
       {CollectErrorMessage(CollectError::kVendorId, "XYZ")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form_.reset();
    WriteIni(Ini("", "[QVEXECUTE]\r\n" + c.execute));
    Bench(StepProducts(1));
    TMainForm& form = Start();
    if (c.before) c.before(*this);
    boxes_.clear();
    Button("ExecuteBtn")->click();
    EXPECT_EQ(Messages(), c.messages);
    EXPECT_FALSE(form.RunActive());
    for (const char* panel : {"Panel1", "Panel2", "Panel3", "Panel5"}) EXPECT_TRUE(Find<QWidget>(panel)->isEnabled()) << panel;
    EXPECT_FALSE(std::filesystem::exists(form.DayLogPath()));
  }
}

// A run unlocks the panels it locked, and the RD Version lock is back on
// the serial entry afterwards: what the floor may not edit before a run it
// may not edit after one either.
TEST_F(PassWindowTest, TheRdLockHoldsAfterARun) {
  struct Case {
    const char* name;
    const char* setting;
    bool pass;  // else no step is on: START ends before any pass
    std::optional<std::string> password;
    bool serialEntryUsable;
  };
  const Case cases[] = {
      {"locked, after a pass", "MPVersion=1", true, std::nullopt, false},
      {"locked, no pass", "MPVersion=1", false, std::nullopt, false},
      {"unlocked", "MPVersion=1", true, "quisten", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form_.reset();
    WriteIni(c.pass ? QuickIni(c.setting) : Ini(c.setting));
    std::filesystem::remove_all(Path("log"));
    Bench(StepProducts(1));
    TMainForm& form = Start();
    if (c.password) {
      input_.recorded.QueueAnswer(c.password);
      QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
    }
    ASSERT_EQ(Find<QWidget>("Panel5")->isEnabled(), c.serialEntryUsable);
    QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
    Pump();
    EXPECT_EQ(std::filesystem::exists(form.DayLogPath()), c.pass);
    for (const char* panel : {"Panel1", "Panel2", "Panel3"}) EXPECT_TRUE(Find<QWidget>(panel)->isEnabled()) << panel;
    EXPECT_EQ(Find<QWidget>("Panel5")->isEnabled(), c.serialEntryUsable);
    EXPECT_EQ(Edit("String3Edit")->isEnabled(), c.serialEntryUsable);
  }
}

}  // namespace
}  // namespace station
