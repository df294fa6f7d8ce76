// The option and edit handlers the settings load, the device list and the
// collection rely on. Where a handler behaves as the first program's, it
// follows the same rule (station/windows/option_rules.h).
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <optional>
#include <string>

#include "platform/program_folder.h"
#include "sdkstation/windows/main_form.h"
#include "station/settings_collection.h"
#include "station/windows/control_events.h"
#include "station/windows/option_rules.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr int kSerialChars = 30;
constexpr int kStringBChars = 30;
constexpr int kStringCChars = 30;
constexpr int kInquiryVendorChars = 8;
constexpr int kInquiryProductChars = 16;
constexpr int kIdChars = 4;

}  // namespace

void TMainForm::RefreshBtnClick() {
  // The removal lists again itself when its threads are done.
  if (DeviceWorkRuns()) return;
  Ui::SdkMainForm& u = *ui;
  u.StatusLabel->hide();
  progress_ = 0;
  u.ProgressBar1->setValue(0);
  if (statusPanel2_) statusPanel2_->setText("0%");
  u.ProgressBar1->hide();
  if (passForm_) passForm_->hide();
  deviceCount_ = 0;
  EnumUSBDevice();
  if (settings_.EnBarcodeMode) FocusSerialEntry(true);
  else if (!ResultWindowShows()) FocusStartOrRefresh();
}

void TMainForm::UpdateStringOptions() {
  Ui::SdkMainForm& u = *ui;
  QLineEdit* const kept[] = {u.StringBEdit, u.SerialNumberEdit, u.VendorIDEdit, u.ProductIDEdit};
  QString texts[std::size(kept)];
  for (size_t i = 0; i < std::size(kept); ++i) texts[i] = kept[i]->text();
  u.SerialNumberEdit->show();
  u.StrA2DiskStrChk->show();
  StrA2DiskStrChkClick();
  for (size_t i = 0; i < std::size(kept); ++i) kept[i]->setText(texts[i]);
}

void TMainForm::StrA2DiskStrChkClick() {
  Ui::SdkMainForm& u = *ui;
  if (!u.StrA2DiskStrChk->isChecked() || !station::OwnVisible(u.StrA2DiskStrChk)) return;
  u.VendorStrEdit->show();
  u.ProdStrEdit->show();
  u.StrALabel->show();
}

void TMainForm::FocusSerialEntry(bool clear) {
  Ui::SdkMainForm& u = *ui;
  if (clear) u.SerialNumberEdit->clear();
  if (ResultWindowShows()) return;
  if (autoStartReady_ && settings_.EnEEPROMUpdate && deviceCount_ > 0 && station::OwnEnabled(u.SerialNumberPanel) &&
      station::OwnVisible(u.SerialNumberPanel) && station::OwnEnabled(u.SerialNumberEdit) &&
      station::OwnVisible(u.SerialNumberEdit))
    u.SerialNumberEdit->setFocus();
}

void TMainForm::InquirySosctlchkClick() {
  station::SourceBoxRule(ui->InquirySosctlchk, {ui->VendorStrEdit, ui->ProdStrEdit, ui->StrALabel});
}

void TMainForm::ManuProdSosctlchkClick() {
  station::SourceBoxRule(ui->ManuProdSosctlchk, {ui->StringCEdit, ui->StringBEdit});
}

void TMainForm::Format_Checked() {
  station::FormatCheckedRule(ui->FormatCheckBox, ui->VolumeLabeledEdit, ui->FmtTypeComboBox, ui->PartitionCheckBox);
}

void TMainForm::PartitionCheckBoxClick() { ui->GPTCheckBox->setEnabled(ui->PartitionCheckBox->isChecked()); }

void TMainForm::EEPROM_Update_Checked() {
  Ui::SdkMainForm& u = *ui;
  if (!u.EEPROMCheckBox->isChecked()) {
    u.GroupBox2->hide();
    return;
  }
  u.GroupBox2->show();
  if (settings_.EnBarcodeMode) FocusSerialEntry(true);
  u.EEPROMVerifyBox->setChecked(false);
}

void TMainForm::EEPROMVerifyBoxClick() {
  station::VerifyBoxRule(ui->EEPROMVerifyBox, ui->EEPROMCheckBox, ui->EEVerifyGroup);
}

void TMainForm::FWUpdateCheckBoxClick(QCheckBox* sender) {
  Ui::SdkMainForm& u = *ui;
  const bool either = u.FWUpdateCheckBox->isChecked() || u.FWCheckBox->isChecked();
  u.LoadFWButton->setEnabled(either);
  u.FwFileNameEdit->setEnabled(either);
  if (either && sender->isChecked()) (sender == u.FWUpdateCheckBox ? u.FWCheckBox : u.FWUpdateCheckBox)->setChecked(false);
  CheckDeviceMix(-1);
}

void TMainForm::enU3CheckBoxClick(QCheckBox* sender) {
  station::ExclusiveBoxRule(sender, sender == ui->enU3CheckBox ? ui->enU31Gen2CheckBox : ui->enU3CheckBox);
}

void TMainForm::StrBFromDiskSNChkClick() {
  ui->StringBEdit->setEnabled(!(station::OwnVisible(ui->StrBFromDiskSNChk) && ui->StrBFromDiskSNChk->isChecked()));
}

void TMainForm::StringAEditChange(QLineEdit* sender) {
  Ui::SdkMainForm& u = *ui;
  const int limit = sender == u.VendorStrEdit    ? kInquiryVendorChars
                    : sender == u.ProdStrEdit    ? kInquiryProductChars
                    : sender == u.StringBEdit    ? kStringBChars
                                                 : kSerialChars;
  station::LimitEditRule(sender, limit);
}

void TMainForm::VenderIDEditChange(QLineEdit* sender) { station::LimitEditRule(sender, kIdChars); }

void TMainForm::StringCEditChange() { station::LimitEditRule(ui->StringCEdit, kStringCChars); }

void TMainForm::CapChkCmbxChange() {
  settings_.Capacity = station::CapacityOfItem(ui->CapChkCmbx->currentIndex());
  ui->CapacityUserDefEdit->setEnabled(settings_.Capacity == station::kUserDefinedCapacity);
}

void TMainForm::CapacityUserDefEditChange() {
  settings_.CapacityCustomize = station::NumberOrZero(station::TextOf(ui->CapacityUserDefEdit));
}

char TMainForm::StringAEditKeyPress(char key) { return station::HexKeyRule(key, Options().MPSnAToZ != 0); }

char TMainForm::TimerEditKeyPress(char key) { return station::DigitKeyRule(key); }

char TMainForm::CapacityUserDefEditKeyPress(char key) { return station::CountKeyRule(key); }

void TMainForm::TimerEditChange() { settings_.StandbyTimer = station::NumberOrZero(station::TextOf(ui->TimerEdit)); }

void TMainForm::FwFileNameEditChange() {
  bridge::SetFieldText(settings_.FwFileName, station::TextOf(ui->FwFileNameEdit));
}

void TMainForm::LoadFWButtonClick() {
  if (OpenDialog2.initialFolder.empty()) OpenDialog2.initialFolder = platform::ProgramFolder();
  const std::optional<std::string> chosen = platform::ChooseFile(OpenDialog2);
  if (!chosen) return;
  station::SetText(ui->FwFileNameEdit, *chosen);
  bridge::SetFieldText(settings_.FwFileName, *chosen);
  if (deviceCount_ > 0 && !chosen->empty()) CheckDeviceMix(-1);
}

// What a repaint would do, done when the window becomes active instead: a
// paint must not move the focus or empty the serial entry.
void TMainForm::FormPaint() {
  ui->Panel1->update();
  ui->Panel2->update();
  ui->Panel3->update();
  if (!ResultWindowShows()) FocusStartOrRefresh();
  if (settings_.EnBarcodeMode) FocusSerialEntry(true);
}

}  // namespace sdkstation
