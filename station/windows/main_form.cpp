// The main window's start-up, its event bindings and the pieces every part
// of it uses (status bar, port nodes, yield, focus).
#include "station/windows/main_form.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QSocketNotifier>
#include <QStyle>
#include <QTreeWidgetItem>

#include <iterator>
#include <stdexcept>

#include "disk/os_version_tests.h"
#include "platform/local_time.h"
#include "platform/program_folder.h"
#include "station/windows/clock_timer.h"
#include "station/windows/control_events.h"
#include "station/windows/message_pump.h"
#include "station/windows/pass_form.h"
#include "station/windows/port_views.h"
#include "station/windows/settings_dialogs.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr uint32_t kEppReminderMs = 10000;

}  // namespace

TMainForm::TMainForm(QWidget* owner)
    : QMainWindow(owner), queue_(std::make_shared<platform::MessageQueue>()), ui(std::make_unique<Ui::TMainForm>()) {
  ui->setupUi(this);
  // Before anything can show a box: its loop may draw the rows and the
  // progress that a refresh posted.
  SetUpStatusBar();
  waitPanel_ = std::make_unique<WaitPanel>(ui->WaitPanel, ui->PaintBox1, ui->Image1, queue_);
  messages_ = new WindowMessagePump(this, [this](const platform::WindowMessage& m) { Dispatch(m); });
  // Posted messages reach this thread through the event loop: the queue's
  // descriptor wakes it, and each wake runs what is waiting.
  queueNotifier_ = new QSocketNotifier(queue_->WakeDescriptor(), QSocketNotifier::Read, this);
  connect(queueNotifier_, &QSocketNotifier::activated, this, [this] { queue_->Dispatch(); });
  queue_->SetHandler(kWmPortUpdate, [this] {
    QEvent update(static_cast<QEvent::Type>(kWmPortUpdate));
    QCoreApplication::sendEvent(this, &update);
  });
  qApp->installEventFilter(this);
  Timer_EPP = new ClockTimer(this, kEppReminderMs, [this] { Timer_EPPTimer(); });
  Timer_EPP->setObjectName("Timer_EPP");
  Timer_EPP->Start();
  AddPortNodes(ui->TreeView1, bridge::kPortCount);
  SetUpSettingsDialogs(OpenDialog1, SaveDialog1);
  SetPortListColumnWidths(ui->ListView1);
  BindEvents();

  win2000_ = disk::IsWindows2000();
  winVista_ = disk::IsWindowsVista();
  if (disk::IsExFatOffered()) ui->FmtTypeComboBox->addItem("exFAT");

  interleaveMode_ = kInterleaveNoQvs646;
  settings_ = ZeroedSettingsBlock();
  iniPath_ = DefaultIniPath();
  LoadSettingsFile(iniPath_);
  if (Options().MPPellmarCustomer != 0) setWindowTitle(windowTitle() + " for Pellmar On-board Customers");

  chipClassCode_ = previousChipClassCode_ = 0;
  if (settings_.EnEPPTypeC == 0) RefreshDeviceList();

  PassEndEvent = std::make_unique<platform::ManualResetEvent>(false);
  dayLog_.rollOverSize = kDayLogRollOverSize;
  if (!EnsureLogFolder()) throw std::runtime_error("Cannot create log directory.");
  ChooseDayLog();
  RDCheckClick();
  if (settings_.EnEPPTypeC != 0) RefreshDeviceList();
  runActive_ = 0;
  FormCreate();
}

void TMainForm::BindEvents() {
  Ui::TMainForm& u = *ui;
  OnClick(u.RefreshBtn, [this] { RefreshBtnClick(); });
  OnClick(u.INILoadBtn, [this] { INILoadBtnClick(); });
  OnClick(u.INISaveBtn, [this] { INISaveBtnClick(); });
  OnClick(u.LoadFWButton, [this] { LoadFWButtonClick(); });
  OnClick(u.ResetYieldBtn, [this] { ResetYieldBtnClick(); });
  OnClick(u.EEPROMCheckBox, [this] { EEPROM_Update_Checked(); });
  OnClick(u.FormatCheckBox, [this] { Format_Checked(); });
  OnChange(u.FmtTypeComboBox, [this] { FFsFmtChange(); });
  OnChange(u.VolumeLabeledEdit, [this] { FFsFmtChange(); });
  for (QCheckBox* box : {u.FWUpdateCheckBox, u.FWCheckBox}) OnClick(box, [this, box] { FWUpdateCheckBoxClick(box); });
  OnChange(u.Q646FlashComboBox, [this] { Q646FlashTypeChange(); });
  for (QLineEdit* edit : {u.StringAEdit, u.StringBEdit, u.String3Edit, u.VendorStrEdit, u.ProdStrEdit})
    OnChange(edit, [this, edit] { StringAEditChange(edit); });
  for (QLineEdit* edit : {u.VendorIDEdit, u.ProductIDEdit}) OnChange(edit, [this, edit] { VenderIDEditChange(edit); });
  for (QLineEdit* edit : {u.VendorIDEdit, u.ProductIDEdit, u.vfVIDEdit, u.vfPIDEdit, u.maxSNEdit})
    SetKeyHandler(edit, [this](char key) { return StringAEditKeyPress(key); });
  OnChange(u.EEPROMType, [this] { EEPROMTypeChange(); });
  OnClick(u.StrA2DiskStrChk, [this] { StrA2DiskStrChkClick(!ui->StrA2DiskStrChk->isChecked()); });
  OnClick(u.StrA2SNChk, [this] { StrA2SNChkClick(); });
  OnClick(u.StrBFromDiskSNChk, [this] { StrBFromDiskSNChkClick(); });
  OnChange(u.CapChkCmbx, [this] { CapChkCmbxChange(); });
  OnChange(u.TimerEdit, [this] { TimerEditChange(); });
  for (QLineEdit* edit : {u.TimerEdit, u.RevisionEdit, u.OddSizeEdit})
    SetKeyHandler(edit, [this](char key) { return TimerEditKeyPress(key); });
  OnChange(u.FmtSecPerClusCbox, [this] { FmtSecPerClusCboxChange(); });
  OnClick(u.EEPROMVerifyBox, [this] { EEPROMVerifyBoxClick(); });
  OnChange(u.StringCEdit, [this] { StringCEditChange(); });
  OnClick(u.cbCloneProduct, [this] { cbCloneProductClick(); });
  OnClick(u.InquirySosctlchk, [this] { InquirySosctlchkClick(); });
  OnClick(u.ManuProdSosctlchk, [this] { ManuProdSosctlchkClick(); });
  SetKeyHandler(u.CapacityUserDefEdit, [this](char key) { return CapacityUserDefEditKeyPress(key); });
  OnChange(u.CapacityUserDefEdit, [this] { CapacityUserDefEditChange(); });
  for (QCheckBox* box : {u.enU3CheckBox, u.enU31Gen2CheckBox}) OnClick(box, [this, box] { enU3CheckBoxClick(box); });
  OnClick(u.RDCheck, [this] { RDCheckClick(); });
  OnClick(u.TreeView1, [this] { TreeView1Click(); });
  OnClick(u.DblClickBtn, [this] { DblClickBtnClick(); });
  OnDblClick(u.ListView1, [this] { DblClickBtnClick(); });
  OnDblClick(u.TreeView1, [this] { DblClickBtnClick(); });
  OnClick(u.ExecuteBtn, [this] { ExecuteBtnClick(); });
  OnClick(u.btnStartTest2, [this] { ExecuteBtnClick(); });
  OnClick(u.BtnStopTest, [this] { BtnStopTestClick(); });
  SetKeyHandler(u.String3Edit, [this](char key) { return String3EditKeyPress(key); });
  for (QLineEdit* edit : {u.StringAEdit, u.String3Edit})
    SetPasteCheck(edit, [this, edit](std::string_view text) { return SerialPasteAllowed(edit, text); });
  OnClick(u.SafeRmBtn, [this] { SafeRmBtnClick(); });
  OnClick(u.CloseBtn, [this] { CloseBtnClick(); });
}

void TMainForm::SetUpStatusBar() {
  const StatusPanels panels = station::SetUpStatusBar(ui->StatusBar1, ui->ProgressBar1, ui->WaitPanel);
  statusPanel0_ = panels.text;
  statusPanel1_ = panels.progressPlace;
  statusPanel1_->installEventFilter(this);  // the bar follows it (StatusBar1DrawPanel)
  statusPanel2_ = panels.percent;
  passProgress_ = 0;
}

void TMainForm::ChooseDayLog() {
  const platform::LocalTime now = platform::GetLocalTime();
  dayLog_.name = MakeDayLogName(platform::ResolveInProgramFolder(kLogFolderName), now.year, now.month, now.day);
  dayLog_.number = FindRunningNumber(dayLog_.name);
  dayLog_.path = dayLog_.name.Path(dayLog_.number);
}

bool TMainForm::ResultWindowShows() const { return passForm_ && passForm_->isVisible(); }

void TMainForm::FocusStartOrRefresh() {
  if (OwnVisible(ui->ExecuteBtn) && OwnEnabled(ui->ExecuteBtn)) ui->ExecuteBtn->setFocus();
  else ui->RefreshBtn->setFocus();
}

void TMainForm::PostPortUpdate() { queue_->Post(kWmPortUpdate); }

bool TMainForm::event(QEvent* e) {
  if (e->type() == static_cast<QEvent::Type>(kWmPortUpdate))
    return Dispatch(platform::WindowMessage{.message = kWmPortUpdate, .wParam = 0, .broadcast = nullptr});
  // What a repaint would do, done when the window becomes active instead:
  // a paint must not move the focus or empty the serial entry.
  if (e->type() == QEvent::WindowActivate) FormPaint();
  return QMainWindow::event(e);
}

void TMainForm::SetNodeImage(int slot, int image) { SetPortNodeImage(ui->TreeView1, slot, image); }

void TMainForm::ShowYield() {
  ui->YieldEdit->setText(QString("%1 / %2").arg(settings_.NumberOfPass).arg(settings_.TotalTestCount));
}

}  // namespace station
