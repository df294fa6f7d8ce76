// Pictures of the second program's real main window on a three-product
// bench through the library: after its first listing, and after one pass
// from START with its rows and yield, the result sign closed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "station/windows/pass_form.h"
#include "station/windows/program_entry.h"
#include "station/windows/tests/screenshots/pictures.h"

namespace sdkstation {
namespace {

using station::testing::ExpectAPicture;
using station::testing::Ini;
using station::testing::SavePicture;

class SdkMainWindowScreenshots : public testing::SdkWindowTest {};

TEST_F(SdkMainWindowScreenshots, AfterTheFirstListingAndAfterOnePass) {
  Bench(testing::Products(29, 3));
  WriteIni(Ini("MPVersion=0\r\nShowRWPerf=1", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\nEnRWTest=1\r\n"));
  TMainForm& form = Start();
  station::TPassForm passForm(&form);
  form.SetPassForm(&passForm);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  Pump();
  ASSERT_EQ(form.DeviceCount(), 3);
  ExpectAPicture(SavePicture(form, "sdk-main-window.png"), form);

  FillIdentity("00A0");
  Button("ExecuteBtn")->click();
  Pump();
  ASSERT_FALSE(form.RunActive());
  EXPECT_EQ(Edit("YieldEdit")->text().toStdString(), "3/3");
  // The operator has read the result sign and closed it.
  passForm.hide();
  form.activateWindow();
  ExpectAPicture(SavePicture(form, "sdk-main-window-after-pass.png"), form);
  form.SetPassForm(nullptr);
}

}  // namespace
}  // namespace sdkstation

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(station::kApplicationTitle);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
