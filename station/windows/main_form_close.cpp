// Shut-down: closing the window switches the Type-C fixture's power off;
// the destructor saves the settings and the yield. A close asked for while
// a pass or a removal runs waits for its end, so that no bridge is left in
// the middle of a flash write and every row reaches the log.
#include <QCloseEvent>
#include <QLabel>
#include <QSocketNotifier>

#include <exception>

#include "platform/debug.h"
#include "platform/device_notifications.h"
#include "platform/files.h"
#include "platform/program_folder.h"
#include "station/epp_power.h"
#include "station/windows/main_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr char kClosesAfterPass[] = "Closing once the running test has ended.";

}  // namespace

void TMainForm::CloseBtnClick() { close(); }

void TMainForm::closeEvent(QCloseEvent* e) {
  // During a pass the close waits for the workers rather than ending them:
  // a worker stopped in the middle of a flash write leaves a half-programmed
  // product, and every worker step is bounded by its time-outs, so the wait
  // ends. The pass is asked to stop after the current one.
  if (runActive_ || removalActive_) {
    e->ignore();
    if (!closePending_) statusPanel0_->setText(kClosesAfterPass);
    closePending_ = true;
    stopRequest_ = 1;
    return;
  }
  FormClose();
  QMainWindow::closeEvent(e);
}

void TMainForm::FormClose() {
  if (settings_.EnEPPTypeC && pass_.EppPowered) SwitchEppOutputsOff(pass_);
  // No worker runs here: a close waits for the pass, and the pass for its workers.
  if (DeviceNotifyHandle != 0) {
    static_cast<void>(platform::UnregisterDeviceNotification(DeviceNotifyHandle));  // false: already gone
    DeviceNotifyHandle = 0;
  }
}

// A close that waited for the run or the removal comes now.
void TMainForm::CloseWhenIdle() {
  if (!closePending_ || runActive_ || removalActive_) return;
  closePending_ = false;
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

TMainForm::~TMainForm() {
  // Nothing is drawn or posted for this window from here on.
  waitPanel_.reset();
  queue_->Close();
  try {
    static_cast<void>(CollectSettingsFromForm());  // a field that cannot be converted was reported
    SettingsBlock saved = settings_;
    const uint32_t attributes = platform::GetFileAttributes(iniPath_.c_str());
    if (attributes != platform::kInvalidFileAttributes && !(attributes & platform::kFileAttributeReadOnly))
      static_cast<void>(SaveSettingsToIni(iniPath_, saved, Options(), unreadValues_));  // a failure was reported
    // The bare name is the profile functions' own: the platform's Windows
    // folder, never the program folder, whose Kestrova.ini is the station's.
    if (iniPath_.find(kSettingsFileName) == std::string::npos) {
      // Without a Windows folder an empty name would mean the program folder.
      const std::string bare = platform::ResolveInWindowsFolder(kSettingsFileName);
      if (bare.empty()) platform::DebugTrace("Shut-down: no Windows folder for %s\n", kSettingsFileName);
      else static_cast<void>(SaveSettingsToIni(bare, saved, Options(), unreadValues_));
    }
    static_cast<void>(SaveYieldCounters(settings_));  // written whatever became of the settings
  } catch (const std::exception& error) {
    platform::DebugTrace("Shut-down: %s\n", error.what());
  } catch (...) {
    platform::DebugTrace("Shut-down: unknown error\n");
  }
}

}  // namespace station
