// The program entry both stations share: the application object and its
// title, then the main window, the detail window and the result window, in
// that order, and the event loop until the main window closes. The
// simulated bench answers device requests (the embedded one unless
// KESTROVA_BENCH names a bench file).
#pragma once

#include <QApplication>
#include <QObject>

#include <exception>
#include <memory>
#include <type_traits>

#include "platform/backend.h"
#include "station/station_lock.h"
#include "station/windows/pass_form.h"
#include "station/windows/qt_dialog_sinks.h"

class QEvent;
class QWidget;

namespace station {

// The application's title (the plain message dialog's caption too).
inline constexpr char kApplicationTitle[] = "QV4164x Mass Production Tool";

// The application object, with its title. An exception that leaves an
// event handler is shown in the application's exception box, and the
// event loop goes on with the next event.
class StationApplication : public QApplication {
 public:
  StationApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The application's exception box: the text under the application's title.
void ShowException(const char* text);

// Ends the event loop once the main window has closed, whatever other
// window still shows (Qt alone waits for the last one); the settings and
// the yield are saved when the main window goes after the loop.
class MainWindowEnd : public QObject {
 public:
  explicit MainWindowEnd(QWidget& mainWindow);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& mainWindow_;
};

// The detail window of the main window's own kind (MainForm::DetailForm),
// handed to it; one that reads its port itself is made with the main window.
template <class MainForm>
std::unique_ptr<QDialog> MakeDetailForm(MainForm& form) {
  using DetailForm = typename MainForm::DetailForm;
  std::unique_ptr<DetailForm> detail;
  if constexpr (std::is_constructible_v<DetailForm, MainForm*>) detail = std::make_unique<DetailForm>(&form);
  else detail = std::make_unique<DetailForm>();
  form.SetDetailForm(detail.get());
  return detail;
}

// The three windows and the event loop, inside the application object.
// A main window whose start-up can leave nothing to run says so through
// Started(); the program then ends at once with status 1.
template <class MainForm>
int RunStationWindows() {
  try {
    MainForm mainForm;
    if constexpr (requires { mainForm.Started(); }) {
      if (!mainForm.Started()) return 1;
    }
    const std::unique_ptr<QDialog> detailForm = MakeDetailForm(mainForm);
    TPassForm passForm(&mainForm);
    mainForm.SetPassForm(&passForm);
    MainWindowEnd end(mainForm);
    mainForm.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("Unknown exception");
  }
  return 1;
}

template <class MainForm>
int RunStationProgram(int argc, char** argv) {
  StationApplication application(argc, argv);
  QtDialogs dialogs;
  // One station per program folder, until this process ends.
  const std::unique_ptr<platform::InstanceLock> folderLock = LockProgramFolder();
  if (!folderLock) return 1;
  // The bench is chosen before the first window asks it anything.
  static_cast<void>(platform::CurrentBackend());
  return RunStationWindows<MainForm>();
}

}  // namespace station
