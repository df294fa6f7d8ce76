#include "station/windows/option_rules.h"

#include <QMetaObject>

#include <cctype>
#include <optional>
#include <string>

#include "platform/input_box.h"
#include "platform/message_box.h"
#include "station/step_helpers.h"

#include "station/windows/control_events.h"

namespace station {
namespace {

constexpr int kFat32LabelChars = 11;

bool IsControlKey(char key) { return static_cast<unsigned char>(key) < 0x20; }
bool IsDigit(char key) { return std::isdigit(static_cast<unsigned char>(key)) != 0; }

}  // namespace

void FormatCheckedRule(const QCheckBox* format, QWidget* label, QWidget* fileSystem, QCheckBox* partition) {
  const bool on = format->isChecked();
  label->setEnabled(on);
  fileSystem->setEnabled(on);
  partition->setChecked(on);
}

void Fat32LabelRule(int32_t fileSystem, QLineEdit* label) {
  if (fileSystem != kFileSystemFat32 || label->text().size() <= kFat32LabelChars) return;
  label->setText(label->text().left(kFat32LabelChars));
  static_cast<void>(platform::MessageBox("FAT32 only support Volume label 11 characters!", "Message", platform::kMbOk));
}

void VerifyBoxRule(const QCheckBox* verify, QCheckBox* identityUpdate, QWidget* verifyGroup) {
  if (verify->isChecked()) {
    identityUpdate->setChecked(false);
    verifyGroup->show();
  } else {
    verifyGroup->hide();
  }
}

void ExclusiveBoxRule(const QCheckBox* sender, QCheckBox* other) {
  if (sender->isChecked() && other->isChecked()) other->setChecked(false);
}

void SourceBoxRule(const QCheckBox* box, std::initializer_list<QWidget*> edits) {
  const bool on = !(OwnVisible(box) && OwnEnabled(box)) || box->isChecked();
  for (QWidget* edit : edits) edit->setEnabled(on);
}

void LimitEditRule(QLineEdit* edit, int limit) {
  if (edit->text().size() <= limit) return;
  edit->setText(edit->text().left(limit));
  edit->end(false);
}

void RdCheckRule(QCheckBox* box, int32_t mpVersion, std::string_view password, const std::function<void()>& lock,
                 const std::function<void()>& unlock) {
  if (mpVersion == 0) {
    box->setChecked(true);
    return;
  }
  if (!box->isChecked()) {
    lock();
    return;
  }
  const std::optional<std::string> answer = platform::InputBox(
      {.caption = "Please Input the Password", .prompt = "Password", .initial = "", .password = true});
  if (answer && *answer == password) {
    unlock();
    return;
  }
  // Unchecked once the click that checked it has been handled: a change made
  // inside the click's own handling sends no state change, so the handler
  // would not lock, and the next click would check the box unasked.
  QMetaObject::invokeMethod(box, [box] { box->setChecked(false); }, Qt::QueuedConnection);
}

char HexKeyRule(char key, bool aToZ) {
  if (key == '\r' || key == '\b') return key;
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
  if (IsDigit(key) || (upper >= 'A' && upper <= (aToZ ? 'Z' : 'F'))) return upper;
  return IsControlKey(key) ? key : 0;
}

char DigitKeyRule(char key) { return IsDigit(key) || IsControlKey(key) ? key : 0; }

char CountKeyRule(char key) { return IsDigit(key) || key == '\b' ? key : 0; }

}  // namespace station
