// The windows' tests run on Qt's offscreen platform: no display needed,
// inside the programs' own application object.
#include <gtest/gtest.h>

#include <QApplication>

#include "station/windows/main_form.h"

#if defined(__SANITIZE_THREAD__)
// Qt's libraries are not built with the thread sanitizer: it cannot see
// their own synchronisation (the raster backing store converts images on
// Qt's thread pool), so races reported inside them are not ours.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Gui.so\nrace:libQt6Core.so\nrace:libQt6Widgets.so\ncalled_from_lib:libQt6Gui.so\n";
}
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  station::StationApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
