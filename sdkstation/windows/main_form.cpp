// The main window's start-up and shut-down, its create event, its event
// bindings and the pieces every part of it uses.
#include "sdkstation/windows/main_form.h"

#include <QApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QHBoxLayout>
#include <QTreeWidgetItem>

#include <cstdio>
#include <stdexcept>

#include "disk/os_version_tests.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/local_time.h"
#include "platform/program_folder.h"
#include "sdkstation/windows/program_version.h"
#include "station/station_messages.h"
#include "station/windows/control_events.h"
#include "station/windows/message_pump.h"
#include "station/windows/option_rules.h"
#include "station/windows/port_views.h"
#include "station/windows/settings_dialogs.h"
#include "ui_sdkmainform.h"

namespace sdkstation {

using station::OnChange;
using station::OnClick;

TMainForm::TMainForm(QWidget* owner) : QMainWindow(owner), ui(std::make_unique<Ui::SdkMainForm>()) {
  ui->setupUi(this);
  threads_.fill(platform::kInvalidHandle);
  queueNotifier_ = new QSocketNotifier(queue_->WakeDescriptor(), QSocketNotifier::Read, this);
  connect(queueNotifier_, &QSocketNotifier::activated, this, [this] { queue_->Dispatch(); });
  waitPanel_ = std::make_unique<station::WaitPanel>(ui->WaitPanel, ui->PaintBox1, ui->Image1, queue_);
  // The window's event, as the program's other posts are.
  queue_->SetHandler(station::kWmPortUpdate, [this] {
    QEvent update(static_cast<QEvent::Type>(station::kWmPortUpdate));
    QCoreApplication::sendEvent(this, &update);
  });
  qApp->installEventFilter(this);
  messages_ = new station::WindowMessagePump(this, [this](const platform::WindowMessage& m) { Dispatch(m); });
  station::AddPortNodes(ui->TreeView1, kSdkPortCount);
  station::SetPortListColumnWidths(ui->ListView1);
  station::SetUpSettingsDialogs(OpenDialog1, SaveDialog1);
  BindEvents();

  locks_.emplace();
  deviceList_ = std::make_unique<DeviceList>();
  module_ = BindDeviceSdk();
  if (module_ == kMinusOneModule) module_ = nullptr;  // refused: nothing to release
  if (module_ == nullptr) {
    std::puts(kBindingFailedMessage);
    std::fflush(stdout);
    close();
    return;
  }

  if (disk::IsExFatOffered()) ui->FmtTypeComboBox->addItem("exFAT");
  settings_ = ZeroedSdkSettingsBlock();
  iniPath_ = station::DefaultIniPath();
  // A load that ended early ("Cannot create log directory.") has said so:
  // the start-up ends there, and the exit saves nothing it never read.
  if (!LoadSettingsFile(iniPath_).error.empty()) {
    close();
    return;
  }
  started_ = true;
  EnumUSBDevice();
  const station::StatusPanels panels = station::SetUpStatusBar(ui->StatusBar1, ui->ProgressBar1, ui->WaitPanel);
  // The bar fills its panel; nothing draws over it here.
  auto* place = new QHBoxLayout(panels.progressPlace);
  place->setContentsMargins(0, 0, 0, 0);
  place->addWidget(ui->ProgressBar1);
  statusPanel2_ = panels.percent;
  progress_ = 0;
  passEvent_ = std::make_unique<platform::ManualResetEvent>(false);
  logRollOverSize_ = station::kDayLogRollOverSize;
  if (!station::EnsureLogFolder()) throw std::runtime_error("Cannot create log directory.");
  ChooseDayLog();
  RDCheckClick();
  FormCreate();
}

TMainForm::~TMainForm() {
  waitPanel_.reset();
  queue_->Close();
  locks_.reset();
  if (Started()) SaveAtExit();
  passEvent_.reset();
  if (module_ != nullptr) static_cast<void>(UnbindDeviceSdk(module_));
  deviceList_.reset();
}

void TMainForm::SaveAtExit() {
  // Each save stands on its own: a collection that stopped at a bad value,
  // or a settings file that cannot be written, keeps no other save from
  // running.
  static_cast<void>(CollectSettingsFromForm());
  SdkSettingsBlock saved = settings_;
  if (freeSpaceLearned_) saved.FreeSpace = 0;
  const std::string current = platform::ResolveInProgramFolder(iniPath_);
  if (platform::GetFileAttributes(current.c_str()) != platform::kInvalidFileAttributes &&
      !platform::IsReadOnlyFile(current))
    static_cast<void>(SaveSettingsToIni(iniPath_, saved, Options(), unreadValues_));
  // The bare name is the profile functions' own: the platform's Windows
  // folder, never the program folder, whose Kestrova.ini is the station's.
  if (iniPath_.find(station::kSettingsFileName) == std::string::npos) {
    // Without a Windows folder an empty name would mean the program folder.
    const std::string bare = platform::ResolveInWindowsFolder(station::kSettingsFileName);
    if (bare.empty()) platform::DebugTrace("Shut-down: no Windows folder for %s\n", station::kSettingsFileName);
    else static_cast<void>(SaveSettingsToIni(bare, saved, Options(), unreadValues_));
  }
  static_cast<void>(station::SaveYieldCounters(settings_.TotalTestCount, settings_.NumberOfPass));
}

void TMainForm::FormCreate() {
  setWindowTitle(QString::asprintf("Orvanta M.P. Tool v%d.%d.%d.%d", kProgramVersion.major, kProgramVersion.minor,
                                   kProgramVersion.release, kProgramVersion.build));
  if (settings_.EnLoopDebug) {
    ui->DebugPanel->show();
    ui->cbEraseFlashForDebug->show();
  }
  if (settings_.EnEraseFlashOnly) ui->cbEraseFlash->show();
  RegisterDiskNotification();
  // Notices and timers are the window's from here on.
  messages_->Start();
}

void TMainForm::BindEvents() {
  Ui::SdkMainForm& u = *ui;
  OnClick(u.RefreshBtn, [this] { RefreshBtnClick(); });
  OnClick(u.CloseBtn, [this] { CloseBtnClick(); });
  OnClick(u.ExecuteBtn, [this] { ExecuteBtnClick(); });
  OnClick(u.btnStartTest2, [this] { btnStartTest2Click(); });
  OnClick(u.BtnStopTest, [this] { BtnStopTestClick(); });
  OnClick(u.SafeRmBtn, [this] { SafeRmBtnClick(); });
  OnClick(u.INILoadBtn, [this] { INILoadBtnClick(); });
  OnClick(u.INISaveBtn, [this] { INISaveBtnClick(); });
  OnClick(u.LoadFWButton, [this] { LoadFWButtonClick(); });
  OnClick(u.RDCheck, [this] { RDCheckClick(); });
  OnClick(u.EEPROMCheckBox, [this] { EEPROM_Update_Checked(); });
  OnClick(u.EEPROMVerifyBox, [this] { EEPROMVerifyBoxClick(); });
  OnClick(u.FormatCheckBox, [this] { Format_Checked(); });
  for (QCheckBox* box : {u.PartitionCheckBox, u.GPTCheckBox}) OnClick(box, [this] { PartitionCheckBoxClick(); });
  for (QCheckBox* box : {u.FWUpdateCheckBox, u.FWCheckBox}) OnClick(box, [this, box] { FWUpdateCheckBoxClick(box); });
  for (QCheckBox* box : {u.enU3CheckBox, u.enU31Gen2CheckBox}) OnClick(box, [this, box] { enU3CheckBoxClick(box); });
  OnClick(u.StrA2DiskStrChk, [this] { StrA2DiskStrChkClick(); });
  OnClick(u.StrBFromDiskSNChk, [this] { StrBFromDiskSNChkClick(); });
  OnClick(u.InquirySosctlchk, [this] { InquirySosctlchkClick(); });
  OnClick(u.ManuProdSosctlchk, [this] { ManuProdSosctlchkClick(); });
  for (QLineEdit* edit : {u.StringBEdit, u.SerialNumberEdit, u.VendorStrEdit, u.ProdStrEdit})
    OnChange(edit, [this, edit] { StringAEditChange(edit); });
  for (QLineEdit* edit : {u.VendorIDEdit, u.ProductIDEdit}) OnChange(edit, [this, edit] { VenderIDEditChange(edit); });
  OnChange(u.StringCEdit, [this] { StringCEditChange(); });
  OnChange(u.CapChkCmbx, [this] { CapChkCmbxChange(); });
  OnChange(u.CapacityUserDefEdit, [this] { CapacityUserDefEditChange(); });
  OnChange(u.TimerEdit, [this] { TimerEditChange(); });
  OnChange(u.FwFileNameEdit, [this] { FwFileNameEditChange(); });
  for (QLineEdit* edit : {u.VendorIDEdit, u.ProductIDEdit, u.vfVIDEdit, u.vfPIDEdit, u.maxSNEdit})
    station::SetKeyHandler(edit, [this](char key) { return StringAEditKeyPress(key); });
  station::SetKeyHandler(u.TimerEdit, [this](char key) { return TimerEditKeyPress(key); });
  station::SetKeyHandler(u.CapacityUserDefEdit, [this](char key) { return CapacityUserDefEditKeyPress(key); });
  OnClick(u.TreeView1, [this] { TreeView1Click(); });
  OnClick(u.ResetYieldBtn, [this] { ResetYieldBtnClick(); });
  OnChange(u.FmtTypeComboBox, [this] { FFsFmtChange(); });
  OnChange(u.VolumeLabeledEdit, [this] { FFsFmtChange(); });
  OnChange(u.FmtSecPerClusCbox, [this] { FmtSecPerClusCboxChange(); });
  station::SetKeyHandler(u.SerialNumberEdit, [this](char key) { return SerialNumberEditKeyPress(key); });
  OnClick(u.DblClickBtn, [this] { DblClickBtnClick(); });
  for (QTreeWidget* view : {u.ListView1, u.TreeView1}) station::OnDblClick(view, [this] { DblClickBtnClick(); });
}

void TMainForm::ChooseDayLog() {
  const platform::LocalTime now = platform::GetLocalTime();
  dayLogName_ = station::MakeDayLogName(platform::ResolveInProgramFolder(station::kLogFolderName), now.year,
                                        now.month, now.day);
  dayLogNumber_ = station::FindRunningNumber(dayLogName_);
  dayLogPath_ = dayLogName_.Path(dayLogNumber_);
}

bool TMainForm::ResultWindowShows() const { return passForm_ && passForm_->isVisible(); }

void TMainForm::FocusStartOrRefresh() {
  if (station::OwnVisible(ui->ExecuteBtn) && station::OwnEnabled(ui->ExecuteBtn)) ui->ExecuteBtn->setFocus();
  else ui->RefreshBtn->setFocus();
}

}  // namespace sdkstation
