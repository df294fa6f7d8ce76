#include "station/windows/qt_dialog_sinks.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>

#include <vector>

#include "station/windows/control_events.h"

namespace station {
namespace {

// Box polls for the boxes of worker threads.
constexpr int kPumpIntervalMs = 50;
constexpr char kPasswordCharacterStyle[] = "lineedit-password-character: 42;";  // '*'

QMessageBox::Icon IconOf(uint32_t flags) {
  switch (flags & 0xF0) {
    case platform::kMbIconError: return QMessageBox::Critical;
    case platform::kMbIconQuestion: return QMessageBox::Question;
    case platform::kMbIconWarning: return QMessageBox::Warning;
    case platform::kMbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

struct ButtonAnswer {
  QMessageBox::StandardButton button;
  int answer;
};

std::vector<ButtonAnswer> ButtonsOf(uint32_t flags) {
  using B = QMessageBox;
  switch (flags & platform::kMbButtonMask) {
    case platform::kMbOkCancel: return {{B::Ok, platform::kIdOk}, {B::Cancel, platform::kIdCancel}};
    case platform::kMbYesNoCancel:
      return {{B::Yes, platform::kIdYes}, {B::No, platform::kIdNo}, {B::Cancel, platform::kIdCancel}};
    case platform::kMbYesNo: return {{B::Yes, platform::kIdYes}, {B::No, platform::kIdNo}};
    case platform::kMbRetryCancel: return {{B::Retry, platform::kIdRetry}, {B::Cancel, platform::kIdCancel}};
    default: return {{B::Ok, platform::kIdOk}};
  }
}

// "Description|pattern|..." as Qt's "Description (pattern);;...".
QString QtFilter(const std::string& filter) {
  const QStringList parts = FromStationText(filter).split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) out << parts[i] + " (" + parts[i + 1] + ")";
  return out.join(";;");
}

}  // namespace

int QtMessageBoxSink::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  QMessageBox box(QApplication::activeWindow());
  if (flags & platform::kMbPlainMessage) {
    box.setWindowTitle(QApplication::applicationName());
    box.setIcon(QMessageBox::NoIcon);
  } else {
    box.setWindowTitle(FromStationText(caption));
    box.setIcon(IconOf(flags));
  }
  box.setText(FromStationText(text));
  const std::vector<ButtonAnswer> buttons = ButtonsOf(flags);
  QMessageBox::StandardButtons set;
  for (const ButtonAnswer& b : buttons) set |= b.button;
  box.setStandardButtons(set);
  box.setDefaultButton(buttons.front().button);
  const int pressed = box.exec();
  for (const ButtonAnswer& b : buttons)
    if (pressed == b.button) return b.answer;
  // Closed without a button: the cancel answer where there is one.
  return buttons.size() > 1 ? buttons.back().answer : platform::kIdOk;
}

std::optional<std::string> QtInputBoxSink::Ask(const platform::InputBoxRequest& request) {
  QInputDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(FromStationText(request.caption));
  dialog.setLabelText(FromStationText(request.prompt));
  dialog.setTextValue(FromStationText(request.initial));
  if (request.password) {
    dialog.setTextEchoMode(QLineEdit::Password);
    // Each typed character shows as the station's '*', not the style's own mark.
    if (QLineEdit* edit = dialog.findChild<QLineEdit*>()) edit->setStyleSheet(kPasswordCharacterStyle);
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ToStationText(dialog.textValue());
}

std::optional<std::string> QtFileDialogSink::Choose(const platform::FileDialogRequest& request) {
  const bool save = request.kind == platform::FileDialogKind::kSave;
  QFileDialog dialog(QApplication::activeWindow(), QString(), FromStationText(request.initialFolder),
                     QtFilter(request.filter));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  QString suffix = FromStationText(request.defaultExtension);
  if (suffix.startsWith('.')) suffix.remove(0, 1);
  dialog.setDefaultSuffix(suffix);
  QFileDialog::Options options;
  if (!request.overwritePrompt) options |= QFileDialog::DontConfirmOverwrite;
  dialog.setOptions(options);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return ToStationText(dialog.selectedFiles().front());
}

QtDialogs::QtDialogs() : uiBoxes_(boxes_, nullptr) {
  platform::SetMessageBoxSink(&uiBoxes_);
  platform::SetInputBoxSink(&input_);
  platform::SetFileDialogSink(&files_);
  QObject::connect(&pump_, &QTimer::timeout, [this] { uiBoxes_.Pump(); });
  pump_.start(kPumpIntervalMs);
}

QtDialogs::~QtDialogs() {
  pump_.stop();
  platform::SetFileDialogSink(nullptr);
  platform::SetInputBoxSink(nullptr);
  platform::SetMessageBoxSink(nullptr);
  uiBoxes_.Close();
}

}  // namespace station
