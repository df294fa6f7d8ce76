// The "RD Version" lock of the second program: a wrong password leaves the
// box unchecked and the settings locked; the right one unlocks them; in
// bar-code mode the lock leaves the serial entry usable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>

#include "sdkstation/windows/tests/sdk_window_fixture.h"

namespace sdkstation {
namespace {

using station::testing::Ini;

class SdkRdLock : public testing::SdkWindowTest {};

// The operator's clicks: every click that checks the box asks again,
// however many answers were wrong before.
TEST_F(SdkRdLock, OnlyTheRightPasswordUnlocks) {
  WriteIni(Ini("MPVersion=1"));
  Start();
  ASSERT_FALSE(Box("RDCheck")->isChecked());
  EXPECT_FALSE(Enabled("GroupBox1"));
  EXPECT_FALSE(Enabled("SerialNumberPanel"));
  for (const char* answer : {"Quisten", "wrong", "quisten"}) {
    SCOPED_TRACE(answer);
    const size_t asked = input_.recorded.requests().size();
    input_.recorded.QueueAnswer(std::string(answer));
    QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
    Pump();
    ASSERT_EQ(input_.recorded.requests().size(), asked + 1);
    EXPECT_EQ(input_.recorded.requests()[asked].caption, "Please Input the Password");
    EXPECT_TRUE(input_.recorded.requests()[asked].password);  // typed as '*'
    const bool right = std::string(answer) == "quisten";
    EXPECT_EQ(Box("RDCheck")->isChecked(), right);
    for (const char* name : {"INISaveBtn", "GroupBox1", "GroupBox3", "GroupBox5", "EEVerifyGroup", "SerialNumberPanel"})
      EXPECT_EQ(Enabled(name), right) << name;
  }
}

TEST_F(SdkRdLock, BarcodeModeKeepsTheSerialEntryUsable) {
  WriteIni(Ini("MPVersion=1\r\nEnBarcodeMode=1"));
  Start();
  EXPECT_FALSE(Enabled("GroupBox1"));
  EXPECT_TRUE(Enabled("SerialNumberPanel"));
}

// A run unlocks only the panels it locked: the serial entry stays under
// the lock after the pass.
TEST_F(SdkRdLock, TheLockHoldsAfterAPass) {
  Bench(testing::Products(29, 2));
  WriteIni(Ini("MPVersion=1\r\nMPPassLabel=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  TMainForm& form = Start();
  input_.recorded.QueueAnswer(std::string("quisten"));
  QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
  FillIdentity("0001");
  QTest::mouseClick(Box("RDCheck"), Qt::LeftButton);
  ASSERT_FALSE(Enabled("SerialNumberPanel"));
  QTest::mouseClick(Button("ExecuteBtn"), Qt::LeftButton);
  Pump();
  ASSERT_EQ(form.Settings().NumberOfPass, 2);
  EXPECT_TRUE(Enabled("Panel1"));
  for (const char* locked : {"INISaveBtn", "GroupBox1", "GroupBox3", "GroupBox5", "EEVerifyGroup", "SerialNumberPanel"})
    EXPECT_FALSE(Enabled(locked)) << locked;
}

}  // namespace
}  // namespace sdkstation
