// The "RD Version" lock and the run's lock of the settings panels.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <initializer_list>

#include "sdkstation/windows/main_form.h"
#include "station/settings_collection.h"
#include "station/windows/option_rules.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr char kPassword[] = "quisten";

}  // namespace

void TMainForm::RDCheckClick() {
  station::RdCheckRule(ui->RDCheck, settings_.MPVersion, kPassword, [this] { LockSettings(); },
                       [this] { UnlockSettings(); });
}

void TMainForm::LockSettings() {
  Ui::SdkMainForm& u = *ui;
  for (QWidget* w : std::initializer_list<QWidget*>{u.INISaveBtn, u.CapacityUserDefEdit, u.CapChkCmbx, u.GroupBox1,
                                                     u.GroupBox3, u.GroupBox5, u.EEVerifyGroup})
    w->setEnabled(false);
  if (!settings_.EnBarcodeMode) u.SerialNumberPanel->setEnabled(false);
}

void TMainForm::UnlockSettings() {
  Ui::SdkMainForm& u = *ui;
  u.INISaveBtn->setEnabled(true);
  if (!AnyQVS87xDevice()) {
    u.CapChkCmbx->setEnabled(true);
    u.CapacityUserDefEdit->setEnabled(station::CapacityOfItem(u.CapChkCmbx->currentIndex()) ==
                                     station::kUserDefinedCapacity);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{u.GroupBox1, u.SerialNumberPanel, u.GroupBox3, u.GroupBox5,
                                                     u.EEVerifyGroup})
    w->setEnabled(true);
}

void TMainForm::LockControls(bool enable) {
  for (QWidget* panel : {ui->Panel1, ui->Panel2, ui->Panel3}) panel->setEnabled(enable);
}

}  // namespace sdkstation
