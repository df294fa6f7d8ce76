// Safe removal through the device library, the key "0" that starts it, and
// the close that waits for a run or a removal to end.
#include <QCheckBox>
#include <QCloseEvent>
#include <QPushButton>

#include <string>

#include "platform/device_notifications.h"
#include "platform/message_box.h"
#include "platform/threads.h"
#include "sdkstation/windows/main_form.h"
#include "station/production_pass.h"
#include "station/safe_removal.h"
#include "station/station_messages.h"
#include "station/windows/control_events.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr uint32_t kRed = 0x0000FF;

// The thread of one device: the library removes it; its answer is not
// looked at, the listing afterwards tells.
uint32_t SafeRemoveThread(const std::string& path) {
  static_cast<void>(DeviceSdk().QV_SafeRemove(path.c_str()));
  return 0;
}

}  // namespace

void TMainForm::SafeRmBtnClick() {
  // Never while a run owns the devices, nor twice at once: the wait below
  // runs the window's events, a second click among them.
  if (DeviceWorkRuns()) return;
  RemoveAllDevices(DevicePaths(pass_.ports, deviceCount_));
}

void TMainForm::RemoveAllDevices(const std::vector<std::string>& devicePaths) {
  const int count = ClampDeviceCount(static_cast<int>(devicePaths.size()));
  if (count == 0 || removalActive_) return;
  removalActive_ = true;
  station::SetTextColor(ui->SafeRmBtn, kRed);
  ui->SafeRmBtn->repaint();
  for (int i = 0; i < count; ++i) {
    const platform::Handle thread = platform::CreateThread(
        [path = devicePaths[static_cast<size_t>(i)]] { return SafeRemoveThread(path); },
        [queue = queue_] { queue->Post(station::kWmPortUpdate); });
    if (thread == platform::kInvalidHandle) continue;  // that device stays; the listing tells
    static_cast<void>(platform::SetThreadPriority(thread, platform::kThreadPriorityTimeCritical));
    threads_[static_cast<size_t>(i)] = thread;
  }
  WaitWhileActive([this] { return !station::AnyThreadActive(threads_); });
  station::CloseThreads(threads_);
  removalActive_ = false;
  EnumUSBDevice();
  if (deviceCount_ != 0)
    static_cast<void>(
        platform::MessageBox(station::kUnableToRemoveAll, "Warning", platform::kMbOk | platform::kMbIconWarning));
  CloseWhenIdle();
}

void TMainForm::FormKeyPress(char key) {
  if (key != '0') return;
  // A "0" typed or scanned into a text field is a digit, not a command.
  if (station::TextFieldHasFocus()) return;
  if (settings_.EnLoopDebug || ui->RDCheck->isChecked() || DeviceWorkRuns() ||
      !station::OwnEnabled(ui->SafeRmBtn) || !settings_.EnKey0SafeRemove)
    return;
  SafeRmBtnClick();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
  if (const char key = station::PreviewedKey(watched, e, this)) FormKeyPress(key);
  return QMainWindow::eventFilter(watched, e);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  // A run's workers would be cut off in the middle of a flash write: the
  // close waits for the run (asked to stop after its pass) or the removal.
  if (DeviceWorkRuns() || looping_) {
    e->ignore();
    closePending_ = true;
    stopRequest_ = true;
    return;
  }
  FormClose();
  QMainWindow::closeEvent(e);
}

void TMainForm::CloseBtnClick() { close(); }

void TMainForm::FormClose() {
  // No worker runs here: a close waits for the run, the run for its workers.
  if (DeviceNotifyHandle != 0) {
    static_cast<void>(platform::UnregisterDeviceNotification(DeviceNotifyHandle));  // false: already gone
    DeviceNotifyHandle = 0;
  }
}

void TMainForm::CloseWhenIdle() {
  if (!closePending_ || DeviceWorkRuns() || looping_) return;
  closePending_ = false;
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

}  // namespace sdkstation
