// The device list through the device library and the decision whether
// START may be pressed, with the controls they fit to the devices.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <initializer_list>
#include <string>

#include "bridge/usb_tree.h"
#include "platform/debug.h"
#include "platform/message_box.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/device_mix_check.h"
#include "sdkstation/windows/main_form.h"
#include "station/windows/control_events.h"
#include "station/windows/port_views.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr uint32_t kGreen = 0x008000;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kRed = 0x0000FF;

}  // namespace

void TMainForm::EnumUSBDevice() {
  Ui::SdkMainForm& u = *ui;
  platform::OutputDebugString("RD Debug: EnumUSBDevice enter");
  const DeviceListing listing = ListAttachedDevices(*deviceList_, pass_.ports, deviceCount_, settings_.FreeSpace);
  if (listing.freeSpaceLearned) freeSpaceLearned_ = true;
  // Once per refresh, however often the library listed while answering it.
  if (listing.overfull)
    (void)platform::MessageBox(bridge::kPortIndexExceeded, "Error", platform::kMbOk | platform::kMbIconError);

  station::SetTextColor(u.SafeRmBtn, kGreen);
  u.StatusLabel->hide();
  u.ProgressBar1->hide();
  u.USB3Panel->hide();
  for (int slot = 0; slot < kSdkPortCount; ++slot) station::SetPortNodeImage(u.TreeView1, slot, 0);
  if (deviceCount_ == 0) {
    CheckDeviceMix(-1);
    PostPortUpdate();
    return;
  }
  station::ResetTextColor(u.SafeRmBtn);
  for (int slot = 0; slot < deviceCount_; ++slot) station::SetPortNodeImage(u.TreeView1, slot, 1);

  if (!runActive_) PostPortUpdate();
  u.TimerEdit->setVisible(settings_.StandbyTimer >= 0);
  if (settings_.StandbyTimer >= 0) station::SetText(u.TimerEdit, std::to_string(settings_.StandbyTimer));
  UpdateStringOptions();

  if (!ChipTypesDiffer()) {
    if (u.FWUpdateCheckBox->isChecked() || u.FWCheckBox->isChecked()) {
      u.LoadFWButton->setEnabled(true);
      u.FwFileNameEdit->setEnabled(true);
      const std::string file(FieldText(settings_.FwFileName));
      if (!file.empty() && DeviceSdk().QV_CheckLoadBinFileMatch((*deviceList_)[0], file.c_str()) != 0 &&
          settings_.EnBarcodeMode)
        FocusSerialEntry(true);
    } else {
      u.LoadFWButton->setEnabled(false);
      u.FwFileNameEdit->setEnabled(false);
    }
  }
  ShowUsbSpeed(listing.lowestSpeed);

  u.StringCEdit->show();
  u.StrALabel->setText("   HDD.String");
  const bool anyQvs87x = AnyQVS87xDevice();
  u.ManuProdSosctlchk->setVisible(anyQvs87x);
  u.InquirySosctlchk->setVisible(anyQvs87x);
  ManuProdSosctlchkClick();
  InquirySosctlchkClick();
  CheckDeviceMix(-1);
  ApplyQvs87xControls(anyQvs87x);
  platform::OutputDebugString("RD Debug: EnumUSBDevice exit");
}

void TMainForm::ShowUsbSpeed(int32_t lowestSpeed) {
  QLabel* panel = ui->USB3Panel;
  panel->show();
  if (lowestSpeed == qvfw::kSpeedGen2 || lowestSpeed == qvfw::kSpeedGen1) {
    panel->setText(lowestSpeed == qvfw::kSpeedGen2 ? "USB 3.1 Gen 2" : "USB 3.1 Gen 1");
    station::SetTextColor(panel, kBlue);
  } else {
    panel->setText("USB 2.0");
    station::SetTextColor(panel, kRed);
  }
}

void TMainForm::ApplyQvs87xControls(bool anyQvs87x) {
  Ui::SdkMainForm& u = *ui;
  for (QWidget* w : std::initializer_list<QWidget*>{
           u.PartitionCheckBox, u.FormatCheckBox, u.FmtTypeComboBox, u.FmtSecPerClusCbox, u.VolumeLabeledEdit,
           u.RWTestCheckBox, u.vfVolumnLabelEdit, u.vfVolLabelChk, u.vfHDDFWRevEdit, u.vfHDDFWRevChk,
           u.SWCopyChkBox, u.enFolderCPChk, u.bAdvCompareChk, u.SwImgPathEdit, u.DstISOEdit,
           u.CapacityUserDefEdit, u.CapChkCmbx})
    w->setEnabled(!anyQvs87x);
}

void TMainForm::CheckDeviceMix(int startSwitch) {
  if (startSwitch != -1) {
    ui->ExecuteBtn->setEnabled(startSwitch != 0);
    return;
  }
  const MixDecision decision = JudgeDeviceMix(
      pass_.ports, deviceCount_, settings_, Options(),
      {.runActive = runActive_,
       .cloneProduct = ui->cbCloneProduct->isChecked(),
       .userCapacity = station::TextOf(ui->CapacityUserDefEdit),
       .firmwareChosen = ui->FWUpdateCheckBox->isChecked() || ui->FWCheckBox->isChecked()});
  autoStartReady_ = decision.autoStartReady;
  ui->ExecuteBtn->setEnabled(decision.mayStart);
}

bool TMainForm::AnyQVS87xDevice() const { return sdkstation::AnyQVS87xDevice(pass_.ports, deviceCount_); }

bool TMainForm::ChipTypesDiffer() const { return sdkstation::ChipTypesDiffer(pass_.ports, deviceCount_); }

}  // namespace sdkstation
