// The "RD Version" lock: the settings stay disabled until the engineer's
// password is given.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "station/windows/main_form.h"
#include "station/windows/option_rules.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr char kPassword[] = "quisten";
constexpr char kPellmarPassword[] = "brolvex";

}  // namespace

void TMainForm::RDCheckClick() {
  RdCheckRule(ui->RDCheck, settings_.MPVersion, Options().MPPellmarCustomer ? kPellmarPassword : kPassword,
              [this] { LockSettings(); }, [this] { UnlockSettings(); });
}

void TMainForm::LockSettings() {
  Ui::TMainForm& u = *ui;
  for (QWidget* w : std::initializer_list<QWidget*>{u.INISaveBtn, u.CapacityUserDefEdit, u.CapChkCmbx, u.GroupBox1,
                                                     u.GroupBox2, u.GroupBox3, u.GroupBox4, u.GroupBox5,
                                                     u.EEVerifyGroup})
    w->setEnabled(false);
  if (!settings_.EnBarcodeMode) u.Panel5->setEnabled(false);
}

void TMainForm::UnlockSettings() {
  Ui::TMainForm& u = *ui;
  u.INISaveBtn->setEnabled(true);
  const auto& records = pass_.ports.records;
  const bool anyQvs87x = std::any_of(records.begin(), records.end(), [](const bridge::PortRecord& r) {
    return r.present && IsQvs87x(r.chipType);
  });
  if (!anyQvs87x) {
    u.CapChkCmbx->setEnabled(true);
    u.CapacityUserDefEdit->setEnabled(settings_.Capacity == kUserDefinedCapacity);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{u.GroupBox1, u.GroupBox2, u.Panel5, u.GroupBox4, u.GroupBox5,
                                                     u.EEVerifyGroup})
    w->setEnabled(true);
  u.GroupBox3->setEnabled(Options().MPPellmarCustomer == 0);
}

}  // namespace station
