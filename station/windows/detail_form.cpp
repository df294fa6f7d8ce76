#include "station/windows/detail_form.h"

#include <QLineEdit>

#include "station/device_details.h"
#include "station/windows/control_events.h"
#include "station/windows/main_form.h"
#include "ui_detailform.h"

namespace station {

TDetailForm::TDetailForm(TMainForm* mainForm, QWidget* owner)
    : QDialog(owner), ui(std::make_unique<Ui::TDetailForm>()), mainForm_(mainForm) {
  ui->setupUi(this);
}

TDetailForm::~TDetailForm() = default;

void TDetailForm::Open(char driveLetter) {
  driveLetter_ = driveLetter;
  if (isVisible()) FormShow();
  else show();
  raise();
  activateWindow();
}

void TDetailForm::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TDetailForm::FormShow() {
  if (mainForm_ == nullptr) return;
  // No device command while workers or the removal own the devices.
  const DeviceDetails d = CollectDeviceDetails(mainForm_->Pass().ports, mainForm_->SelectedPort - 1, driveLetter_,
                                               !mainForm_->DeviceWorkRuns());
  Ui::TDetailForm& u = *ui;
  const std::pair<QLineEdit*, const std::string*> fields[] = {
      {u.ChipIDEdit, &d.chipId},        {u.ModNumEdit, &d.diskName},         {u.String3Edit, &d.serialNumber},
      {u.VendorIDEdit, &d.vendorId},    {u.ProductIDEdit, &d.productId},     {u.HDCapEdit, &d.capacity},
      {u.DiskLetterEdit, &d.driveLetter}, {u.HDDFWRevEdit, &d.diskFirmware}, {u.FwVerEdit, &d.firmwareVersion},
      {u.SFlashTypeEdit, &d.flashType}, {u.StringAEdit, &d.manufacturer},    {u.StringBEdit, &d.product},
      {u.DeviceTypeEdit, &d.deviceType},
  };
  for (const auto& [edit, text] : fields) SetText(edit, *text);
  u.HDDFWRevEdit->setEnabled(d.diskFirmwareEnabled);
}

}  // namespace station
