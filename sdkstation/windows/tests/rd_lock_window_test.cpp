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

TEST_F(SdkRdLock, OnlyTheRightPasswordUnlocks) {
  WriteIni(Ini("MPVersion=1"));
  Start();
  ASSERT_FALSE(Box("RDCheck")->isChecked());
  EXPECT_FALSE(Enabled("GroupBox1"));
  EXPECT_FALSE(Enabled("SerialNumberPanel"));
  input_.recorded.QueueAnswer(std::string("Quisten"));
  Box("RDCheck")->setChecked(true);
  ASSERT_EQ(input_.recorded.requests().size(), 1u);
  EXPECT_EQ(input_.recorded.requests()[0].caption, "Please Input the Password");
  EXPECT_TRUE(input_.recorded.requests()[0].password);  // typed as '*'
  EXPECT_FALSE(Box("RDCheck")->isChecked());
  for (const char* locked : {"INISaveBtn", "GroupBox1", "GroupBox3", "GroupBox5", "EEVerifyGroup", "SerialNumberPanel"})
    EXPECT_FALSE(Enabled(locked)) << locked;
  input_.recorded.QueueAnswer(std::string("quisten"));
  Box("RDCheck")->setChecked(true);
  EXPECT_TRUE(Box("RDCheck")->isChecked());
  for (const char* open : {"INISaveBtn", "GroupBox1", "GroupBox3", "GroupBox5", "EEVerifyGroup", "SerialNumberPanel"})
    EXPECT_TRUE(Enabled(open)) << open;
  EXPECT_EQ(input_.recorded.requests().size(), 2u);
}

TEST_F(SdkRdLock, BarcodeModeKeepsTheSerialEntryUsable) {
  WriteIni(Ini("MPVersion=1\r\nEnBarcodeMode=1"));
  Start();
  EXPECT_FALSE(Enabled("GroupBox1"));
  EXPECT_TRUE(Enabled("SerialNumberPanel"));
}

}  // namespace
}  // namespace sdkstation
