// The windows' tests run on Qt's offscreen platform: no display needed.
#include <gtest/gtest.h>

#include <QApplication>

#include "station/windows/main_form.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(station::kApplicationTitle);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
