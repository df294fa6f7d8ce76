// The "RD Version" lock: the settings groups stay disabled until the
// engineer's password is given.
#include <QInputDialog>
#include <QMetaObject>

#include <optional>

#include "station/windows/detail_form.h"
#include "station/windows/qt_dialog_sinks.h"
#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::Products;
using testing::WindowTest;

constexpr const char* kLocked[] = {"INISaveBtn", "CapChkCmbx", "GroupBox1", "GroupBox2", "GroupBox3",
                                   "GroupBox4", "GroupBox5", "EEVerifyGroup", "Panel5"};

struct LockCase {
  const char* what;
  const char* setting;
  std::optional<std::string> answer;  // none: cancelled
  bool unlocked;
  bool firmwareGroup;  // GroupBox3 after the answer
};

TEST_F(WindowTest, PasswordUnlocksTheSettings) {
  const LockCase cases[] = {
      {"right password", "MPVersion=1", "quisten", true, true},
      {"other customer's password", "MPVersion=1", "brolvex", false, false},
      {"case counts", "MPVersion=1", "Quisten", false, false},
      {"cancelled", "MPVersion=1", std::nullopt, false, false},
      {"Pellmar: its password, F/W Update stays locked", "MPVersion=1\r\nMPPellmarCustomer=1", "brolvex", true,
       false},
      {"Pellmar: the other password", "MPVersion=1\r\nMPPellmarCustomer=1", "quisten", false, false},
  };
  for (const LockCase& c : cases) {
    SCOPED_TRACE(c.what);
    form_.reset();
    input_.recorded.clear();
    WriteIni(Ini(c.setting));
    Start();
    for (const char* name : kLocked) EXPECT_FALSE(Enabled(name)) << name;
    input_.recorded.QueueAnswer(c.answer);
    QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
    Pump();
    const auto asked = input_.recorded.requests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].caption, "Please Input the Password");
    EXPECT_EQ(asked[0].prompt, "Password");
    EXPECT_EQ(asked[0].initial, "");
    EXPECT_TRUE(asked[0].password);
    EXPECT_EQ(Box("RDCheck")->isChecked(), c.unlocked);
    for (const char* name : kLocked) {
      if (std::string(name) != "GroupBox3") {
        EXPECT_EQ(Enabled(name), c.unlocked) << name;
      }
    }
    EXPECT_EQ(Enabled("GroupBox3"), c.firmwareGroup);
    // Locking again needs no password.
    if (c.unlocked) {
      QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
      EXPECT_FALSE(Enabled("GroupBox1"));
      EXPECT_EQ(input_.recorded.requests().size(), 1u);
    }
  }
}

// Every click that checks the box asks again, however many answers were
// wrong before; only the right one unlocks, and the port's detail window
// opens only then.
TEST_F(WindowTest, EveryCheckingClickAsksForThePassword) {
  WriteIni(Ini("MPVersion=1"));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  TDetailForm detail(&form);
  form.SetDetailForm(&detail);
  ASSERT_TRUE(form.Pass().ports.records[0].present);
  ClickPortNode(0);
  for (const char* answer : {"wrong", "Quisten", "quisten"}) {
    SCOPED_TRACE(answer);
    input_.recorded.QueueAnswer(std::string(answer));
    const size_t asked = input_.recorded.requests().size();
    QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
    Pump();
    EXPECT_EQ(input_.recorded.requests().size(), asked + 1);
    const bool right = std::string(answer) == "quisten";
    EXPECT_EQ(Box("RDCheck")->isChecked(), right);
    for (const char* name : kLocked) EXPECT_EQ(Enabled(name), right) << name;
    QTest::mouseClick(Button("DblClickBtn"), Qt::LeftButton);
    EXPECT_EQ(detail.isVisible(), right);
  }
  form.SetDetailForm(nullptr);
}

// The real password box: asked for with its caption and prompt, every
// typed character shown as '*'; Enter gives the answer.
TEST_F(WindowTest, ThePasswordBoxMasksWithAsterisks) {
  WriteIni(Ini("MPVersion=1"));
  TMainForm& form = Start();
  form.show();
  QtInputBoxSink dialogs;
  const platform::ScopedInputBoxSink scope(&dialogs);
  for (const char* typed : {"quisteN", "quisten"}) {
    SCOPED_TRACE(typed);
    QString caption, prompt, shown;
    QMetaObject::invokeMethod(
        &form, [&] {
          auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
          ASSERT_NE(box, nullptr);
          caption = box->windowTitle();
          prompt = box->labelText();
          QLineEdit* edit = box->findChild<QLineEdit*>();
          QTest::keyClicks(edit, typed);
          shown = edit->displayText();
          QTest::keyClick(edit, Qt::Key_Return);
        },
        Qt::QueuedConnection);
    QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
    Pump();
    EXPECT_EQ(caption, "Please Input the Password");
    EXPECT_EQ(prompt, "Password");
    EXPECT_EQ(shown, "*******");
    const bool right = std::string(typed) == "quisten";
    EXPECT_EQ(Box("RDCheck")->isChecked(), right);
    EXPECT_EQ(Enabled("GroupBox1"), right);
  }
}

TEST_F(WindowTest, NoLockWithoutMPVersion) {
  WriteIni(Ini("MPVersion=0"));
  Start();
  EXPECT_FALSE(Shown("RDCheck"));
  EXPECT_TRUE(Box("RDCheck")->isChecked());
  for (const char* name : kLocked) EXPECT_TRUE(Enabled(name)) << name;
  Box("RDCheck")->setChecked(false);  // the handler checks it again
  EXPECT_TRUE(Box("RDCheck")->isChecked());
  EXPECT_TRUE(input_.recorded.requests().empty());
}

TEST_F(WindowTest, BarcodeModeKeepsTheSerialEntryUnlocked) {
  WriteIni(Ini("MPVersion=1\r\nEnBarcodeMode=1"));
  Start();
  EXPECT_FALSE(Enabled("GroupBox2"));
  EXPECT_TRUE(Enabled("Panel5"));
}

TEST_F(WindowTest, Qvs87xKeepsTheCapacityChoiceLockedAfterUnlocking) {
  for (const int chip : {13, 21}) {
    form_.reset();
    WriteIni(Ini("MPVersion=1", "[QVEXECUTE]\r\nCapacity=1\r\n"));
    Bench(Products(chip, 1));
    Start();
    input_.recorded.QueueAnswer("quisten");
    QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
    EXPECT_TRUE(Enabled("GroupBox1"));
    EXPECT_EQ(Enabled("CapChkCmbx"), chip != 21) << chip;
    EXPECT_EQ(Enabled("CapacityUserDefEdit"), chip != 21) << chip;
  }
}

}  // namespace
}  // namespace station
