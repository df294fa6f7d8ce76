#include "station/windows/program_entry.h"

namespace station {

void ShowStartUpException(const QString& text) {
  QMessageBox::critical(nullptr, QApplication::applicationName(), text);
}

}  // namespace station
