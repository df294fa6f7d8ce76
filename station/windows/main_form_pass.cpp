// START and the run loop: the preconditions, the production passes as often
// as the loop count says, the Type-C rounds and their log block; the
// window's side of a pass (what it shows, where it waits); Stop and the
// bar-code start.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "station/windows/control_events.h"
#include "station/windows/exception_exit.h"
#include "station/windows/main_form.h"
#include "station/windows/pass_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;
constexpr int32_t kUnlimitedRounds = 1000;
constexpr int32_t kTypeCTryMs = 1000;
constexpr int kTypeCTrySlices = 10;
constexpr char kNoEppDevice[] = "No control EPP power device!!";
constexpr char kFlashIsNull[] = "Flash is NULL, must be update EEPROM and Firmware together!";
constexpr char kSerialBlank[] = "S/N String field can not be blank.";
constexpr char kImagePathInvalid[] = "Please make sure the software image path valid!";
constexpr char kFirmwareNameMissing[] = "Please make sure the correct firmware filename!";
constexpr char kDeviceNotReady[] = "Device is not Ready ! or Device is not connected !";
constexpr char kFirmwareNotForAllChips[] = "Firmware File not support all chips!";
constexpr char kChipsDiffer[] = "Chips are Different model !";
constexpr char kBarcodeLength[] = "BarCode Length Don't match INI setting";

ControlState StateOf(const QCheckBox* box) { return {box->isChecked(), OwnVisible(box), OwnEnabled(box)}; }

// The loop count field: a number of rounds; empty, below 1 or no number at
// all runs 1000.
int32_t LoopCount(std::string_view text) {
  const std::optional<int32_t> count = ConvertInteger(text);
  return count && *count >= 1 ? *count : kUnlimitedRounds;
}

}  // namespace

// The window's side of a pass.
class TMainForm::PassView : public PassHost {
 public:
  explicit PassView(TMainForm& form) : f_(form), u_(*form.ui) {}

  void MarkNode(int slot, int image) override { f_.SetNodeImage(slot, image); }

  void BeginWait() override {
    u_.ProgressBar1->setValue(0);
    u_.ProgressBar1->show();
    f_.passProgress_ = 0;
    f_.statusPanel2_->setText("0%");
    f_.waitPanel_->Start();
  }

  void RunEepromTypeHandler() override { f_.EEPROMTypeChange(); }

  PassControls Controls() override {
    PassControls c;
    c.identity.inquiryVendor = TextOf(u_.VendorStrEdit);
    c.identity.inquiryProduct = TextOf(u_.ProdStrEdit);
    c.identity.stringAToSerial = u_.StrA2SNChk->isChecked();
    c.identity.stringAToDiskString = u_.StrA2DiskStrChk->isChecked();
    c.identity.interleaveMode = f_.interleaveMode_;
    c.identity.eepromLayoutIndex = f_.eepromLayoutIndex_;
    ControlSnapshot& w = c.workers;
    w.PartitionCheckBox = StateOf(u_.PartitionCheckBox);
    w.FormatCheckBox = StateOf(u_.FormatCheckBox);
    w.RWTestCheckBox = StateOf(u_.RWTestCheckBox);
    w.SWCopyChkBox = StateOf(u_.SWCopyChkBox);
    w.enFolderCPChk = StateOf(u_.enFolderCPChk);
    w.vfVolLabelChk = StateOf(u_.vfVolLabelChk);
    w.vfHDDFWRevChk = StateOf(u_.vfHDDFWRevChk);
    w.cbEraseFlash = StateOf(u_.cbEraseFlash);
    w.StrA2DiskStrChk = StateOf(u_.StrA2DiskStrChk);
    w.cbCloneProduct = StateOf(u_.cbCloneProduct);
    w.FmtTypeComboBox = u_.FmtTypeComboBox->currentIndex();
    c.softwareImagePath = TextOf(u_.SwImgPathEdit);
    c.cloneProduct = u_.cbCloneProduct->isChecked();
    return c;
  }

  void WaitUntil(const std::function<bool()>& done) override { f_.WaitWhileActive(done); }

  // The terminate request, and the thread's end: its last frame and the
  // panel's hiding wait in the queue for the window's next turn.
  void EndWait() override { f_.waitPanel_->Stop(); }

  void ShowSerials() override {
    const SettingsBlock& s = f_.settings_;
    SetText(u_.StringAEdit, FieldText(s.StringA));
    SetText(u_.StringBEdit, FieldText(s.StringB));
    SetText(u_.String3Edit, FieldText(s.String3));
  }

  void Refresh() override { f_.RefreshBtnClick(); }
  void ShowResult(bool allPass) override { f_.ShowPassResult(allPass); }
  void SafeRemoveAll() override { f_.RemoveAllDevices(); }

 private:
  TMainForm& f_;
  Ui::TMainForm& u_;
};

void TMainForm::RunProductionPass() {
  StationPass station{pass_, settings_, mix_, eppDevice_, dayLog_, *PassEndEvent, queue_, passMembers_, iniPath_};
  PassView view(*this);
  static_cast<void>(station::RunProductionPass(station, view));  // what it did shows in the window
}

// The window's events run until `done` holds. The loop sleeps until an
// event arrives: a worker's post, a thread's end, the operator.
void TMainForm::WaitWhileActive(const std::function<bool()>& done) {
  const bool outer = !waiting_;
  waiting_ = true;
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (outer) waiting_ = false;
}

void TMainForm::ShowPassResult(bool allPass) {
  Ui::TMainForm& u = *ui;
  if (settings_.EnEPPTypeC) {
    const int32_t passIndex = pass_.EppPassIndex;
    u.CCLabel->setText(passIndex < 2 ? "CC1" : "CC2");
    u.CCLabel->show();
    if (passIndex < 2 && allPass) {
      SetTextColor(u.CCLabel, kBlue);
      return;
    }
    u.StatusLabel->show();
    if (allPass) {
      u.CCLabel->setText("Pass");
      SetTextColor(u.StatusLabel, kBlue);
      u.StatusLabel->setText("Pass");
    } else {
      SetTextColor(u.StatusLabel, kRed);
      u.StatusLabel->setText("Fail");
    }
    return;
  }
  if (Options().MPPassLabel == 0) {
    if (passForm_) {
      passForm_->result = allPass ? 1 : 0;
      passForm_->ShowResult();
    }
    return;
  }
  u.StatusLabel->show();
  SetTextColor(u.StatusLabel, allPass ? kBlue : kRed);
  u.StatusLabel->setText(allPass ? "Pass" : "Fail");
}

void TMainForm::ExecuteBtnClick() {
  // One run at a time; none while devices are being removed or the window closes.
  if (runActive_ || removalActive_ || closePending_) return;
  // An exception that leaves the run (the application's box shows it) ends
  // it as every other way out does, once no worker runs any more: a window
  // left believing a run goes on would refuse every close.
  const ExceptionExit endOnException([this] { AbandonRun(); });
  Ui::TMainForm& u = *ui;
  for (QWidget* panel : {u.Panel1, u.Panel2, u.Panel3, u.Panel5}) panel->setEnabled(false);
  u.StatusLabel->hide();
  runActive_ = 1;
  passMembers_.typeCRows = {};
  if (CollectSettingsFromForm() != CollectError::kNone) return EndRun();
  pass_.EppPassIndex = 0;
  const bool typeC = settings_.EnEPPTypeC != 0;
  if (typeC) {
    u.ExecuteBtn->setEnabled(false);
    if (!pass_.EppPowered) {
      platform::ShowMessage(kNoEppDevice);
      return EndRun();
    }
  }
  const SettingsBlock& s = settings_;
  const bool anyStep = u.cbEraseFlash->isChecked() || s.EnPartition || s.EnFormat || s.EnRWTest ||
                       s.EnEEPROMUpdate || s.EnFWUpdate || s.EnVenderCheck || s.EnUSB30Check ||
                       s.EnUSB31Gen2Check || s.EnSWCopy || s.EnFWCheck || s.EnFolderCompare;
  if (!anyStep) return EndRun();

  for (const bridge::PortRecord& r : pass_.ports.records) {
    const unsigned chip = r.chipType;
    if (r.present && !r.firmwareAccepted && chip >= 25 && chip <= 28 && !(s.EnEEPROMUpdate && s.EnFWUpdate)) {
      platform::ShowMessage(kFlashIsNull);
      return EndRun();
    }
  }
  if (s.EnEEPROMUpdate && u.String3Edit->text().isEmpty()) {
    platform::MessageBox(kSerialBlank, "Warning", platform::kMbOk | platform::kMbIconWarning);
    u.String3Edit->clear();
    return EndRun();
  }
  if (s.EnSWCopy) {
    const std::string folder(platform::FolderPart(TextOf(u.SwImgPathEdit)));
    const uint32_t attributes = platform::GetFileAttributes(folder.c_str());
    if (attributes == platform::kInvalidFileAttributes || !(attributes & platform::kFileAttributeDirectory)) {
      platform::ShowMessage(kImagePathInvalid);
      return EndRun();
    }
  }
  if ((s.EnFWUpdate || s.EnFWCheck) && FieldText(s.FwFileName).empty()) {
    platform::MessageBox(kFirmwareNameMissing, "Warning", platform::kMbOk);
    if (typeC) WriteTypeCBlock(false);
    return EndRun();
  }

  int32_t rounds = 0;
  passMembers_.lastPassFailed = 0;
  stopRequest_ = 0;
  if (!s.EnLoopDebug) u.lbTestLoopCnt->setText("1");
  for (;;) {
    if (stopRequest_ || closePending_) break;
    if (passMembers_.lastPassFailed && u.cbStopOnFailure->isChecked()) break;
    if (rounds >= LoopCount(TextOf(u.lbTestLoopCnt))) break;
    if (typeC) RunTypeCRound();
    else RunProductionPass();
    ++rounds;
    if (passMembers_.unkept) break;  // no further pass while the serials or the yield cannot be kept
  }
  if (typeC) WriteTypeCBlock(true);
  EndRun();
}

// Three passes on one product: the firmware update through CC1, the test
// through CC1, the test through CC2. Each waits, a second at a time, for
// the product to come back alone.
void TMainForm::RunTypeCRound() {
  Ui::TMainForm& u = *ui;
  passMembers_.typeCRows = {};
  eppProgress_ = 0;
  for (int32_t passIndex = 0; passIndex < kTypeCPasses; ++passIndex) {
    pass_.EppPassIndex = passIndex;
    passMembers_.lastPassFailed = 0;
    for (int32_t waited = 0;;) {
      RunProductionPass();
      if (passMembers_.unkept) return;
      if (pass_.PresentDeviceCount.load() == 1) break;
      waited += kTypeCTryMs;
      if (waited >= settings_.EPPPowerOnDelay) break;
      for (int slice = 0; slice < kTypeCTrySlices; ++slice) {
        platform::Sleep(kTypeCTryMs / kTypeCTrySlices);
        QCoreApplication::processEvents();
      }
    }
    QCoreApplication::processEvents();
    if (pass_.PresentDeviceCount.load() != 1) {
      u.CCLabel->setText(passIndex < 2 ? "CC1" : "CC2");
      u.StatusLabel->setText("Fail");
      SetTextColor(u.CCLabel, kRed);
      SetTextColor(u.StatusLabel, kRed);
      u.CCLabel->show();
      u.StatusLabel->show();
      QCoreApplication::processEvents();
      return;
    }
    if (passMembers_.lastPassFailed) return;
  }
}

// The round's block in the day log, which the passes have made already. A
// round in which no pass ran has passed nothing: its block is a failed one.
void TMainForm::WriteTypeCBlock(bool passesRan) {
  TypeCRound round;
  round.rows = passMembers_.typeCRows;
  round.lastPassFailed = !passesRan || passMembers_.lastPassFailed != 0;
  round.presentCount = pass_.PresentDeviceCount.load();
  round.passIndex = pass_.EppPassIndex;
  round.totalTestCount = settings_.TotalTestCount;
  round.time = platform::GetLocalTime();
  if (!AppendToExistingDayLog(dayLog_.path, FormatTypeCBlock(round))) platform::ShowMessage(kTypeCLogOpenFailed);
  platform::Sleep(1);
}

// Every way out of START: the controls unlocked, the focus back.
void TMainForm::EndRun() {
  Ui::TMainForm& u = *ui;
  TakeOwnDeviceNotices();
  runActive_ = 0;
  // In the Type-C mode START itself stays off: the next refresh decides.
  for (QWidget* panel : {u.Panel1, u.Panel2, u.Panel3, u.Panel5}) panel->setEnabled(true);
  // The serial entry is also under the RD Version lock, which the run must not lift.
  if (!u.RDCheck->isChecked()) LockSettings();
  if (!ResultWindowShows()) FocusStartOrRefresh();
  if (settings_.EnBarcodeMode) FocusSerialEntry(true);
  CloseWhenIdle();
}

void TMainForm::AbandonRun() noexcept {
  try {
    WaitWhileActive([this] { return !AnyThreadActive(passMembers_.threads); });
    EndRun();
  } catch (...) {
    runActive_ = 0;  // the first exception is the one shown
  }
}

void TMainForm::BtnStopTestClick() { stopRequest_ = 1; }

char TMainForm::String3EditKeyPress(char key) {
  if (!settings_.EnBarcodeMode) return StringAEditKeyPress(key);
  if (runActive_ || removalActive_ || !settings_.EnEEPROMUpdate) return 0;
  if (key != '\r') return StringAEditKeyPress(key);
  const char* warning = nullptr;
  if (pass_.PresentDeviceCount.load() <= 0) warning = kDeviceNotReady;
  else if ((settings_.EnFWUpdate || settings_.EnFWCheck) && !firmwareFileAccepted_) warning = kFirmwareNotForAllChips;
  else if (multipleChipModels_) warning = kChipsDiffer;
  if (warning) {
    platform::MessageBox(warning, "Warning", platform::kMbOk | platform::kMbIconWarning);
    ui->String3Edit->clear();
    return 0;
  }
  if (!mix_.AutoStartReady) return StringAEditKeyPress(key);
  if (ui->String3Edit->text().size() == settings_.BarcodeLength) {
    ExecuteBtnClick();
  } else {
    platform::MessageBox(kBarcodeLength, "Warning", platform::kMbOk | platform::kMbIconWarning);
    ui->String3Edit->clear();
  }
  return 0;
}

}  // namespace station
