// Kestrova: the station program. Creates the main window, the detail window
// and the result window, in that order, and runs the event loop until the
// main window closes. The simulated bench answers device requests (the
// embedded one unless KESTROVA_BENCH names a bench file).
#include <QApplication>
#include <QMessageBox>

#include <exception>

#include "platform/backend.h"
#include "platform/file_version.h"
#include "station/windows/detail_form.h"
#include "station/windows/main_form.h"
#include "station/windows/pass_form.h"
#include "station/windows/qt_dialog_sinks.h"

namespace {

// The program file's version block, numbered by the build; the window's
// caption reads it back from the file.
[[gnu::used]] const platform::VersionResource kVersionResource = platform::MakeVersionResource(
    KESTROVA_VERSION_MAJOR, KESTROVA_VERSION_MINOR, KESTROVA_VERSION_RELEASE, KESTROVA_VERSION_BUILD);

void ShowException(const QString& text) {
  QMessageBox::critical(nullptr, QApplication::applicationName(), text);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(station::kApplicationTitle);
  station::QtDialogs dialogs;
  // The bench is chosen before the first window asks it anything.
  static_cast<void>(platform::CurrentBackend());
  try {
    station::TMainForm mainForm;
    station::TDetailForm detailForm(&mainForm);
    mainForm.SetDetailForm(&detailForm);
    station::TPassForm passForm(&mainForm);
    mainForm.SetPassForm(&passForm);
    mainForm.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ShowException("Unknown exception");
  }
  return 1;
}
