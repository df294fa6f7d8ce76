#include "station/windows/program_entry.h"

#include <QEvent>
#include <QMetaObject>
#include <QWidget>

#include "platform/message_box.h"

namespace station {

StationApplication::StationApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(kApplicationTitle);
}

bool StationApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("Unknown exception");
  }
  return false;
}

void ShowException(const char* text) {
  static_cast<void>(platform::MessageBox(text, kApplicationTitle, platform::kMbOk | platform::kMbIconError));
}

MainWindowEnd::MainWindowEnd(QWidget& mainWindow) : mainWindow_(mainWindow) { mainWindow.installEventFilter(this); }

bool MainWindowEnd::eventFilter(QObject*, QEvent* event) {
  // Whether the window takes the close is known once the event has been handled.
  if (event->type() == QEvent::Close) {
    QMetaObject::invokeMethod(
        this, [this] {
          if (mainWindow_.isHidden()) QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
  }
  return false;
}

}  // namespace station
