// Safe removal: one short thread per present port asks the system to stop
// its product; the window waits for them with its events running, then
// rescans. The key "0" starts it when the settings allow.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "platform/message_box.h"
#include "platform/threads.h"
#include "station/safe_removal.h"
#include "station/windows/control_events.h"
#include "station/windows/main_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr uint32_t kRed = 0x0000FF;

}  // namespace

void TMainForm::SafeRmBtnClick() {
  // Never while a run or another removal is under way.
  if (runActive_ || removalActive_) return;
  RemoveAllDevices();
}

void TMainForm::RemoveAllDevices() {
  const int32_t present = pass_.PresentDeviceCount.load();
  if (present == 0 || removalActive_) return;
  removalActive_ = true;
  SetTextColor(ui->SafeRmBtn, kRed);
  ui->SafeRmBtn->repaint();
  int started = 0;
  for (int slot = 0; slot < bridge::kPortCount && started < present; ++slot) {
    const bridge::PortRecord& r = pass_.ports.records[static_cast<size_t>(slot)];
    if (!r.present) continue;
    ++started;
    const platform::DevInst device = r.parentInstance;
    const platform::Handle thread = platform::CreateThread([device] { return SafeRemoveThread(device); },
                                                           [queue = queue_] { queue->Post(kWmThreadEnded); });
    if (thread == platform::kInvalidHandle) continue;  // that product stays; the rescan tells
    static_cast<void>(platform::SetThreadPriority(thread, platform::kThreadPriorityTimeCritical));
    passMembers_.threads[static_cast<size_t>(slot)] = thread;
  }
  WaitWhileActive([this] { return !AnyThreadActive(passMembers_.threads); });
  CloseThreads(passMembers_.threads);
  TakeOwnDeviceNotices();
  removalActive_ = false;
  RefreshDeviceList();
  if (pass_.PresentDeviceCount.load() != 0)
    platform::MessageBox(kUnableToRemoveAll, "Warning", platform::kMbOk | platform::kMbIconWarning);
  CloseWhenIdle();
}

void TMainForm::FormKeyPress(char key) {
  if (key != '0') return;
  // A "0" typed into a text field is a digit, not a command.
  if (TextFieldHasFocus()) return;
  if (settings_.EnLoopDebug || ui->RDCheck->isChecked() || runActive_ || !OwnEnabled(ui->SafeRmBtn) ||
      !settings_.EnKey0SafeRemove)
    return;
  SafeRmBtnClick();
}

}  // namespace station
