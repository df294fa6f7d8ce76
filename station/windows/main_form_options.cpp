// The option and edit handlers of the settings side of the main window.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "bridge/firmware_file_check.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "station/step_helpers.h"
#include "station/windows/control_events.h"
#include "station/windows/main_form.h"
#include "station/windows/option_rules.h"
#include "station/windows/pass_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr char kFirmwareNotForAllChips[] = "Firmware File not support all chips!";
constexpr int kStringCChars = 30;

}  // namespace

void TMainForm::RefreshBtnClick() {
  if (waiting_) return;  // not under a pass's or a removal's feet
  ui->StatusEdit->hide();
  ui->StatusLabel->hide();
  passProgress_ = 0;
  ui->ProgressBar1->setValue(0);
  statusPanel2_->setText("0%");
  ui->ProgressBar1->hide();
  if (passForm_) passForm_->hide();
  RefreshDeviceList();
  if (settings_.EnBarcodeMode) FocusSerialEntry(true);
  else if (!ResultWindowShows()) FocusStartOrRefresh();
}

void TMainForm::EEPROM_Update_Checked() {
  Ui::TMainForm& u = *ui;
  if (u.EEPROMCheckBox->isChecked()) {
    u.GroupBox2->show();
    u.Panel5->show();
    if (settings_.EnBarcodeMode) FocusSerialEntry(true);
    u.GroupBox4->setVisible(mix_.AnyQvs646);
    q646FlashChoice_ = mix_.AnyQvs646 ? static_cast<uint8_t>(u.Q646FlashComboBox->currentIndex()) : 255;
    u.EEPROMVerifyBox->setChecked(false);
  } else if (mix_.AnyQvs646 && u.FWUpdateCheckBox->isChecked()) {
    u.GroupBox2->hide();
    u.Panel5->hide();
    u.GroupBox4->show();
  } else {
    u.GroupBox2->hide();
    u.Panel5->hide();
    u.GroupBox4->hide();
    q646FlashChoice_ = 255;
  }
  u.EnableUSBFirst->hide();
}

void TMainForm::Format_Checked() {
  FormatCheckedRule(ui->FormatCheckBox, ui->VolumeLabeledEdit, ui->FmtTypeComboBox, ui->PartitionCheckBox);
}

void TMainForm::FFsFmtChange() {
  const int fileSystem = ui->FmtTypeComboBox->currentIndex();
  Fat32LabelRule(fileSystem, ui->VolumeLabeledEdit);
  if (fileSystem == kFileSystemNtfs) ui->FmtSecPerClusCbox->setVisible(settings_.ClusterChoiceShown != 0);
  if (fileSystem == kFileSystemFat32) ui->FmtSecPerClusCbox->hide();
}

void TMainForm::LoadFWButtonClick() {
  if (OpenDialog2.initialFolder.empty()) OpenDialog2.initialFolder = platform::ProgramFolder();
  const std::optional<std::string> chosen = platform::ChooseFile(OpenDialog2);
  if (!chosen) return;
  SetText(ui->FwFileNameEdit, *chosen);
  SetFieldText(settings_.FwFileName, *chosen);
  CheckChosenFirmwareFile();
}

void TMainForm::CheckChosenFirmwareFile() {
  if (pass_.PresentDeviceCount.load() <= 0) return;
  const std::string name = TextOf(ui->FwFileNameEdit);
  if (name.empty()) return;
  firmwareFileAccepted_ = bridge::CheckFirmwareFile(name.c_str(), pass_.FirstChipTypeRev, pass_.ports);
  if (firmwareFileAccepted_) {
    // The firmware box a refresh unchecks brings us here: no refresh inside
    // a refresh.
    if (!refreshing_) RefreshDeviceList();
  } else {
    ui->ExecuteBtn->setEnabled(false);
    platform::ShowMessage(kFirmwareNotForAllChips);
  }
}

void TMainForm::FWUpdateCheckBoxClick(QCheckBox* sender) {
  Ui::TMainForm& u = *ui;
  if (!u.FWUpdateCheckBox->isChecked() && !u.FWCheckBox->isChecked()) {
    u.LoadFWButton->setEnabled(false);
    u.FwFileNameEdit->setEnabled(false);
    if (mix_.AnyQvs646 && u.EEPROMCheckBox->isChecked()) {
      u.GroupBox4->show();
      return;
    }
    u.GroupBox4->hide();
    // Without the firmware step, START is as the last refresh left the other
    // start conditions.
    if (Options().MPAutorun || settings_.EnBarcodeMode) u.ExecuteBtn->setEnabled(false);
    else if (!refreshing_) u.ExecuteBtn->setEnabled(lastRefreshReady_);
  } else {
    u.LoadFWButton->setEnabled(true);
    u.FwFileNameEdit->setEnabled(true);
    if (sender->isChecked()) (sender == u.FWUpdateCheckBox ? u.FWCheckBox : u.FWUpdateCheckBox)->setChecked(false);
    u.GroupBox4->setVisible(mix_.AnyQvs646);
    q646FlashChoice_ = mix_.AnyQvs646 ? static_cast<uint8_t>(u.Q646FlashComboBox->currentIndex()) : 255;
  }
  CheckChosenFirmwareFile();
}

void TMainForm::Q646FlashTypeChange() {
  q646FlashChoice_ = static_cast<uint8_t>(ui->Q646FlashComboBox->currentIndex());
}

void TMainForm::ResetYieldBtnClick() {
  settings_.TotalTestCount = 0;
  settings_.NumberOfPass = 0;
  ShowYield();
}

char TMainForm::StringAEditKeyPress(char key) { return HexKeyRule(key, Options().MPSnAToZ != 0); }

void TMainForm::FormPaint() {
  ui->Panel1->update();
  ui->Panel2->update();
  ui->Panel3->update();
  if (!ResultWindowShows()) FocusStartOrRefresh();
  if (settings_.EnBarcodeMode) FocusSerialEntry(true);
}

void TMainForm::CapChkCmbxChange() {
  settings_.Capacity = CapacityOfItem(ui->CapChkCmbx->currentIndex());
  ui->CapacityUserDefEdit->setEnabled(settings_.Capacity == kUserDefinedCapacity);
}

void TMainForm::TimerEditChange() { settings_.StandbyTimer = NumberOrZero(TextOf(ui->TimerEdit)); }

char TMainForm::TimerEditKeyPress(char key) { return DigitKeyRule(key); }

void TMainForm::FmtSecPerClusCboxChange() {
  settings_.FmtSecPerClus = ui->FmtTypeComboBox->currentIndex() == kFileSystemFat32
                                ? 0
                                : ClusterSizeOfItem(ui->FmtSecPerClusCbox->currentIndex());
}

void TMainForm::EEPROMVerifyBoxClick() { VerifyBoxRule(ui->EEPROMVerifyBox, ui->EEPROMCheckBox, ui->EEVerifyGroup); }

void TMainForm::StringCEditChange() { LimitEditRule(ui->StringCEdit, kStringCChars); }

// The box is read when the settings are collected.
void TMainForm::cbCloneProductClick() {}

void TMainForm::InquirySosctlchkClick() {
  SourceBoxRule(ui->InquirySosctlchk, {ui->VendorStrEdit, ui->ProdStrEdit, ui->StrALabel});
}

void TMainForm::ManuProdSosctlchkClick() { SourceBoxRule(ui->ManuProdSosctlchk, {ui->StringCEdit, ui->StringBEdit}); }

void TMainForm::FocusSerialEntry(bool clear) {
  if (clear) ui->String3Edit->clear();
  if (ResultWindowShows()) return;
  QLineEdit* entry = ui->String3Edit;
  if (settings_.EnEEPROMUpdate && mix_.AutoStartReady && pass_.PresentDeviceCount.load() > 0 &&
      OwnEnabled(ui->Panel5) && OwnVisible(ui->Panel5) && OwnEnabled(entry) && OwnVisible(entry))
    entry->setFocus();
}

char TMainForm::CapacityUserDefEditKeyPress(char key) { return CountKeyRule(key); }

void TMainForm::CapacityUserDefEditChange() {
  settings_.CapacityCustomize = NumberOrZero(TextOf(ui->CapacityUserDefEdit));
}

void TMainForm::enU3CheckBoxClick(QCheckBox* sender) {
  ExclusiveBoxRule(sender, sender == ui->enU3CheckBox ? ui->enU31Gen2CheckBox : ui->enU3CheckBox);
}

}  // namespace station
