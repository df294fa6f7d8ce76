// Pictures of the real main window on a three-product bench, as an operator
// sees it: after its first refresh, and after one pass. Run under a real X
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
#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;

// Three products of one model, on ports 1-3 of the root hub.
constexpr char kThreeProducts[] =
    "[product left]\nchip = 21\nvid = 0x152D\npid = 0x0578\nserial = 4B5300000001\nletters = E\n"
    "disk.sectors = 250069680\n"
    "[product middle]\nchip = 21\nvid = 0x152D\npid = 0x0578\nserial = 4B5300000002\nletters = F\n"
    "disk.sectors = 250069680\n"
    "[product right]\nchip = 21\nvid = 0x152D\npid = 0x0578\nserial = 4B5300000003\nletters = G\n"
    "disk.sectors = 250069680\n";

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

class MainWindowScreenshots : public testing::WindowTest {
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

TEST_F(MainWindowScreenshots, AfterTheFirstRefresh) {
  WriteIni(Ini("MPVersion=0"));
  Bench(kThreeProducts);
  TMainForm& form = Start();
  TDetailForm detail(&form);
  TPassForm result(&form);
  form.SetDetailForm(&detail);
  form.SetPassForm(&result);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  Pump();
  EXPECT_EQ(form.DeviceCount(), 3);
  ExpectAPicture(Save(form, "main-window.png"), form);
  form.SetDetailForm(nullptr);
  form.SetPassForm(nullptr);
}

}  // namespace
}  // namespace station

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(station::kApplicationTitle);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
