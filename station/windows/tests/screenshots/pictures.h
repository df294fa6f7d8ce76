// Pictures of a real window for review: taken as the X server shows it
// (xvfb-run -a, platform xcb) into the folder KESTROVA_SCREENSHOTS names,
// and checked with ImageMagick for their size and for not being blank.
#pragma once

#include <gtest/gtest.h>

#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

namespace station::testing {

inline std::string ScreenshotFolder() {
  const char* folder = std::getenv("KESTROVA_SCREENSHOTS");
  return folder != nullptr && *folder != '\0' ? folder : KESTROVA_DEFAULT_SCREENSHOTS;
}

// ImageMagick's view of a picture: width, height, distinct colours and the
// standard deviation of its brightness (0 for a picture of one colour).
struct Picture {
  int width = 0, height = 0, colours = 0;
  double deviation = 0;
};

inline Picture Identify(const std::string& path) {
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

// The window as the server shows it (the widget's own rendering where the
// platform cannot give the server's picture), saved as `name`.
inline std::string SavePicture(QWidget& window, const std::string& name) {
  QTest::qWait(200);  // let the server draw what the window sent it
  QPixmap picture = window.screen()->grabWindow(window.winId());
  if (picture.isNull()) picture = window.grab();
  std::filesystem::create_directories(ScreenshotFolder());
  const std::string path = ScreenshotFolder() + "/" + name;
  EXPECT_TRUE(picture.save(QString::fromStdString(path), "PNG")) << path;
  return path;
}

inline void ExpectAPicture(const std::string& path, const QWidget& window) {
  const Picture p = Identify(path);
  EXPECT_EQ(p.width, window.width()) << path;
  EXPECT_EQ(p.height, window.height()) << path;
  EXPECT_GE(p.width, 800) << path;
  EXPECT_GT(p.colours, 16) << path;
  EXPECT_GT(p.deviation, 0.05) << path;
}

}  // namespace station::testing
