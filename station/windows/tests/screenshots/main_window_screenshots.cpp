// Pictures of the real main window on a three-product bench, as an operator
// sees it: after its first refresh, and after one pass with one product
// failing. Run under a real X
// server (xvfb-run -a, platform xcb) the picture is what the server shows;
// each is checked with ImageMagick for its size and for not being blank.
// KESTROVA_SCREENSHOTS names the folder the pictures go to.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>


#include "station/windows/detail_form.h"
#include "station/windows/pass_form.h"
#include "station/windows/tests/pass_window_fixture.h"
#include "station/windows/tests/screenshots/pictures.h"

namespace station {
namespace {

using testing::Ini;

using testing::ExpectAPicture;
using testing::SavePicture;

class MainWindowScreenshots : public testing::PassWindowTest {};

// Three products of one model on ports 1-3 of the root hub, every step on.
TEST_F(MainWindowScreenshots, AfterTheFirstRefreshAndAfterOnePass) {
  WriteIni(EveryStepIni("MPVersion=0"));
  Bench(testing::StepProducts(3));
  TMainForm& form = StartWithResultWindow();
  TDetailForm detail(&form);
  form.SetDetailForm(&detail);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  Pump();
  EXPECT_EQ(form.DeviceCount(), 3);
  ExpectAPicture(SavePicture(form, "main-window.png"), form);

  // The third product's firmware cannot be read back: its row fails in red.
  sim::Fault refused;
  refused.kind = sim::Fault::Kind::CheckCondition;
  refused.cdbPrefix = {0x3C, 0x01};
  refused.count = -1;
  bench_->product(2).AddFault(refused);
  Button("ExecuteBtn")->click();
  Pump();
  ASSERT_FALSE(form.RunActive());
  EXPECT_TRUE(Cell(0, 13).startsWith("Pass"));
  EXPECT_EQ(Cell(2, 7), "Fail");
  // The operator has read the result sign and closed it.
  passForm_->hide();
  form.activateWindow();
  ExpectAPicture(SavePicture(form, "main-window-after-pass.png"), form);
  form.SetDetailForm(nullptr);
}

}  // namespace
}  // namespace station

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(station::kApplicationTitle);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
