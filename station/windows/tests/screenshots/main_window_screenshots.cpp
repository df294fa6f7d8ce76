// Pictures of the real main window on a three-product bench, as an operator
// sees it: after its first refresh, and after one pass with one product
// failing. Run under a real X
// server (xvfb-run -a, platform xcb) the picture is what the server shows;
// each is checked with ImageMagick for its size and for not being blank.
// KESTROVA_SCREENSHOTS names the folder the pictures go to.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "station/windows/detail_form.h"
#include "station/windows/pass_form.h"
#include "station/windows/tests/pass_window_fixture.h"

namespace station {
namespace {

using testing::Ini;

std::string OutputFolder() {
  const char* folder = std::getenv("KESTROVA_SCREENSHOTS");
  return folder != nullptr && *folder != '\0' ? folder : KESTROVA_DEFAULT_SCREENSHOTS;
}

// ImageMagick's view of a picture: width, height, distinct colours and the
// standard deviation of its brightness (0 for a picture of one colour).
struct Picture {
  int width = 0, height = 0, colours = 0;
  double deviation = 0;
};

Picture Identify(const std::string& path) {
  Picture p;
  const std::string command = "identify -format '%w %h %k %[fx:standard_deviation]' '" + path + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return p;
  char line[256] = {};
  if (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream in(line);
    in >> p.width >> p.height >> p.colours >> p.deviation;
  }
  ::pclose(pipe);
  return p;
}

class MainWindowScreenshots : public testing::PassWindowTest {
 protected:
  // The window as the server shows it (the widget's own rendering where
  // the platform cannot give the server's picture).
  std::string Save(QWidget& window, const std::string& name) {
    QTest::qWait(200);  // let the server draw what the window sent it
    QPixmap picture = window.screen()->grabWindow(window.winId());
    if (picture.isNull()) picture = window.grab();
    std::filesystem::create_directories(OutputFolder());
    const std::string path = OutputFolder() + "/" + name;
    EXPECT_TRUE(picture.save(QString::fromStdString(path), "PNG")) << path;
    return path;
  }
  static void ExpectAPicture(const std::string& path, const QWidget& window) {
    const Picture p = Identify(path);
    EXPECT_EQ(p.width, window.width()) << path;
    EXPECT_EQ(p.height, window.height()) << path;
    EXPECT_GE(p.width, 800) << path;
    EXPECT_GT(p.colours, 16) << path;
    EXPECT_GT(p.deviation, 0.05) << path;
  }
};

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
  ExpectAPicture(Save(form, "main-window.png"), form);

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
  ExpectAPicture(Save(form, "main-window-after-pass.png"), form);
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
