// START, the test loop and the window's side of a pass: what it shows,
// where it waits, the yield counters and progress on WM_PORT_UPDATE.
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <optional>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/threads.h"
#include "sdkstation/device_serials.h"
#include "sdkstation/run_settings_check.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/sdk_yield.h"
#include "sdkstation/windows/main_form.h"
#include "station/production_pass.h"
#include "station/settings_collection.h"
#include "station/station_messages.h"
#include "station/windows/control_events.h"
#include "station/windows/exception_exit.h"
#include "station/windows/pass_form.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kBeforeLoopPassMs = 500;
constexpr uint32_t kAfterLoopPassMs = 1000;

bool Usable(const QWidget* w) { return station::OwnVisible(w) && station::OwnEnabled(w); }

// The loop count: no number, or one below 1, runs nothing.
int32_t LoopCount(const QLineEdit* edit) {
  const std::optional<int32_t> count = station::ConvertInteger(station::TextOf(edit));
  return count ? *count : 0;
}

// Unlocks the settings panels however the run ends.
class ControlsUnlock {
 public:
  explicit ControlsUnlock(TMainForm& form) : form_(form) {}
  ~ControlsUnlock() { form_.LockControls(true); }
  ControlsUnlock(const ControlsUnlock&) = delete;
  ControlsUnlock& operator=(const ControlsUnlock&) = delete;

 private:
  TMainForm& form_;
};

}  // namespace

class TMainForm::PassView : public SdkPassHost {
 public:
  explicit PassView(TMainForm& form) : f_(form), u_(*form.ui) {}

  void BeginWait(bool devicesAttached) override {
    f_.ShowProgress(0);
    QCoreApplication::processEvents();
    if (!devicesAttached) return;
    f_.waitPanel_->Start();
  }

  SdkPassControls Controls() override {
    SdkPassControls c;
    c.softwareImagePath = station::TextOf(u_.SwImgPathEdit);
    c.folderCompareUsable = Usable(u_.enFolderCPChk);
    ResultLogControls& log = c.log;
    log.vendorId = station::TextOf(u_.VendorIDEdit);
    log.productId = station::TextOf(u_.ProductIDEdit);
    log.serialNumber = station::TextOf(u_.SerialNumberEdit);
    log.stringB = station::TextOf(u_.StringBEdit);
    log.stringC = station::TextOf(u_.StringCEdit);
    log.productFromDiskSerial = station::OwnVisible(u_.StrBFromDiskSNChk) && u_.StrBFromDiskSNChk->isChecked();
    log.autoIncrement = u_.Str3AutoInc->isChecked();
    log.hddFwRevUsable = Usable(u_.vfHDDFWRevChk);
    return c;
  }

  void WaitUntil(const std::function<bool()>& done) override { f_.WaitWhileActive(done); }
  void EndWait() override {
    f_.waitPanel_->Stop();
    // The rows as the workers left them, before the result and the listing
    // after the pass: their last updates may still wait for the next turn.
    f_.OnPortStatus();
    f_.RedrawPortRows();
  }
  void ShowResult(bool allPass) override { f_.ShowPassResult(allPass); }
  void SafeRemoveAll(const std::vector<std::string>& devicePaths) override { f_.RemoveAllDevices(devicePaths); }

 private:
  TMainForm& f_;
  Ui::SdkMainForm& u_;
};

bool TMainForm::event(QEvent* e) {
  if (e->type() == static_cast<QEvent::Type>(station::kWmPortUpdate)) {
    OnPortStatus();
    return true;
  }
  if (e->type() == QEvent::WindowActivate) FormPaint();
  return QMainWindow::event(e);
}

void TMainForm::ShowProgress(int32_t percent) {
  progress_ = percent;
  ui->ProgressBar1->setValue(percent);
  if (statusPanel2_) statusPanel2_->setText(QString::number(percent) + "%");
}

// The window's events run until `done` holds; the loop sleeps until one
// arrives (a worker's post, a thread's end, the operator), never spins.
void TMainForm::WaitWhileActive(const std::function<bool()>& done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TMainForm::ShowPassResult(bool allPass) {
  if (Options().MPPassLabel == 0) {
    if (passForm_) {
      passForm_->result = allPass ? 1 : 0;
      passForm_->ShowResult();
    }
    return;
  }
  ui->StatusLabel->show();
  station::SetTextColor(ui->StatusLabel, allPass ? kBlue : kRed);
  ui->StatusLabel->setText(allPass ? "Pass" : "Fail");
}

int TMainForm::CheckRunSettings() {
  Ui::SdkMainForm& u = *ui;
  RunCheckInput in;
  in.eraseFlashChecked = u.cbEraseFlash->isChecked();
  in.eraseFlashForDebugChecked = u.cbEraseFlashForDebug->isChecked();
  for (int i = 0; i < ClampDeviceCount(deviceCount_); ++i)
    in.runningModes.push_back(pass_.ports[static_cast<size_t>(i)].RunningCodeMode);
  in.firstDevicePath = (*deviceList_)[0];
  in.serialNumber = station::TextOf(u.SerialNumberEdit);
  in.softwareImagePath = station::TextOf(u.SwImgPathEdit);
  in.firmwareFile = station::TextOf(u.FwFileNameEdit);
  const RunCheck check = sdkstation::CheckRunSettings(settings_, in);
  if (check.focusSerialNumber) u.SerialNumberEdit->setFocus();
  return check.mayRun ? 1 : 0;
}

SdkPassSummary TMainForm::RunProductionPass(int handed) {
  station::DayLog log{dayLogName_, dayLogNumber_, dayLogPath_, logRollOverSize_};
  const std::string serial = station::TextOf(ui->SerialNumberEdit);
  const std::string next = AdvanceSerialNumber(serial, handed, ui->Str3AutoInc->isChecked());
  SdkStationPass station{pass_,     *locks_, settings_, deviceCount_, log,     *passEvent_,
                         run_,      patterns_, [queue = queue_] { queue->Post(station::kWmPortUpdate); }, threads_,
                         iniPath_,  next != serial ? next : std::string()};
  PassView view(*this);
  const SdkPassSummary summary = sdkstation::RunProductionPass(station, view);
  dayLogNumber_ = log.number;
  dayLogPath_ = log.path;
  return summary;
}

// An exception that leaves a run (the application's box shows it) ends it
// once no worker runs any more: a window left believing a run goes on would
// refuse every close.
void TMainForm::AbandonRun() noexcept {
  try {
    WaitWhileActive([this] { return !station::AnyThreadActive(threads_); });
  } catch (...) {  // the first exception is the one shown
  }
  runActive_ = false;
}

void TMainForm::AfterPass(bool failed) {
  runActive_ = false;
  EnumUSBDevice();
  if (!stopRequest_) stopRequest_ = failed && ui->cbStopOnFailure->isChecked();
}

void TMainForm::AdvanceSerial(int devices) {
  const std::string next =
      AdvanceSerialNumber(station::TextOf(ui->SerialNumberEdit), devices, ui->Str3AutoInc->isChecked());
  station::SetText(ui->SerialNumberEdit, next);
  // The next pass of a loop, which collects nothing, starts from it too.
  SetFieldText(settings_.String3, next);
}

void TMainForm::ExecuteBtnClick() {
  // One run at a time; none while devices are removed or the window closes.
  if (DeviceWorkRuns() || looping_ || closePending_) return;
  const station::ExceptionExit endOnException([this] { AbandonRun(); });
  ControlsUnlock unlock(*this);
  if (!PrepareRun()) return;
  // The serial moves on by the devices of the pass, also when the pass
  // removed them safely; the pass keeps where it goes before any device
  // gets one.
  const int devices = deviceCount_;
  runActive_ = true;
  if (!settings_.EnLoopDebug) ui->lbTestLoopCnt->setText("1");
  if (CheckRunSettings() == 1) {
    const SdkPassSummary summary = RunProductionPass(devices);
    const bool failed = !summary.allPass;
    AfterPass(failed);
    if (!failed) EnumUSBDevice();
    ui->StatusLabel->show();
    if (!summary.refused) AdvanceSerial(devices);  // a refused pass gave no serial out
  }
  runActive_ = false;
  LockControls(true);
  if (!ResultWindowShows()) FocusStartOrRefresh();
  if (settings_.EnBarcodeMode) FocusSerialEntry(true);
  CloseWhenIdle();
}

void TMainForm::btnStartTest2Click() {
  if (DeviceWorkRuns() || looping_ || closePending_ || LoopCount(ui->lbTestLoopCnt) < 1) return;
  // Between its passes the loop runs the window's events: a close asked for
  // then waits for the loop's end as one during a pass does.
  struct LoopEnd {
    TMainForm& form;
    ~LoopEnd() {
      form.looping_ = false;
      form.CloseWhenIdle();
    }
  } loopEnd{*this};
  looping_ = true;
  stopRequest_ = false;
  const station::ExceptionExit endOnException([this] { AbandonRun(); });
  ControlsUnlock unlock(*this);
  if (!PrepareRun()) return;
  if (CheckRunSettings() != 1) return;
  // The loop resets every product, and the setting stays so after it.
  settings_.MPPortReset = 1;
  for (int n = 0; !stopRequest_ && n < LoopCount(ui->lbTestLoopCnt); ++n) {
    if (settings_.EnFWUpdate && settings_.EraseFlashForDebug == 1) {
      runActive_ = true;
      const SdkPassSummary summary = RunProductionPass();
      platform::Sleep(kBeforeLoopPassMs);
      AfterPass(!summary.allPass);
      if (!summary.kept) break;  // no further pass while the yield cannot be kept
    }
    QCoreApplication::processEvents();
    (void)DeviceSdk().QV_InitialCustomizedSettingTable();
    if (ui->EEPROMCheckBox->isChecked()) ApplyIdentitySettings();
    const int devices = deviceCount_;
    if (settings_.EnFWUpdate) settings_.EraseFlashForDebug = 0;
    platform::Sleep(kBeforeLoopPassMs);
    runActive_ = true;
    const SdkPassSummary summary = RunProductionPass(devices);
    platform::Sleep(kAfterLoopPassMs);
    AfterPass(!summary.allPass);
    if (!summary.refused) AdvanceSerial(devices);
    if (!summary.kept) break;  // nor while the serial number or the yield cannot be kept
  }
  runActive_ = false;
  LockControls(true);
  if (!ResultWindowShows()) FocusStartOrRefresh();
}

}  // namespace sdkstation
