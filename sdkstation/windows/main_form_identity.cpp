// The identity every attached device is handed before a run, and the steps
// START and the test loop take before their pass.
#include <QCheckBox>
#include <QLineEdit>

#include "sdkstation/identity_handover.h"
#include "sdkstation/windows/main_form.h"
#include "station/windows/control_events.h"
#include "ui_sdkmainform.h"

namespace sdkstation {

void TMainForm::ApplyIdentitySettings() {
  Ui::SdkMainForm& u = *ui;
  IdentityControls c;
  c.updateVid = u.UpdateVIDChk->isChecked();
  c.updatePid = u.UpdatePIDChk->isChecked();
  c.updateManufString = u.UpdateManufStringChk->isChecked();
  c.updateUsbProdString = u.UpdateUSBProdStringChk->isChecked();
  c.updateDeviceString = u.UpdateDeviceStringChk->isChecked();
  c.vendorId = station::TextOf(u.VendorIDEdit);
  c.productId = station::TextOf(u.ProductIDEdit);
  c.serialNumber = station::TextOf(u.SerialNumberEdit);
  c.vendorStr = station::TextOf(u.VendorStrEdit);
  c.prodStr = station::TextOf(u.ProdStrEdit);
  c.stringB = station::TextOf(u.StringBEdit);
  c.stringC = station::TextOf(u.StringCEdit);
  c.manuProdCtl = u.ManuProdSosctlchk->isChecked();
  c.inquiryCtl = u.InquirySosctlchk->isChecked();
  c.mapToHddName = u.StrA2DiskStrChk->isChecked();
  c.productFromDiskSerial = station::OwnVisible(u.StrBFromDiskSNChk) && u.StrBFromDiskSNChk->isChecked();
  c.autoIncrement = u.Str3AutoInc->isChecked();
  c.standbyTimer = settings_.StandbyTimer;
  c.qvs871StandbyTime = Options().EnQVS871StandbyTime != 0;
  c.multiSector = Options().EnMultiSec != 0;
  HandOverIdentity(*deviceList_, deviceCount_, c, pass_);
}

bool TMainForm::PrepareRun() {
  LockControls(false);
  if (!CollectSettingsFromForm()) {
    LockControls(true);
    return false;
  }
  static_cast<void>(DeviceSdk().QV_InitialCustomizedSettingTable());
  if (ui->EEPROMCheckBox->isChecked()) ApplyIdentitySettings();
  return true;
}

}  // namespace sdkstation
