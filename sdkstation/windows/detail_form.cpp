#include "sdkstation/windows/detail_form.h"

#include <QLineEdit>

#include <string>

#include "sdkstation/device_details.h"
#include "station/windows/control_events.h"
#include "ui_sdkdetailform.h"

namespace sdkstation {

using station::SetText;

TDetailForm::TDetailForm(QWidget* owner) : QDialog(owner), ui(std::make_unique<Ui::SdkDetailForm>()) {
  ui->setupUi(this);
}

TDetailForm::~TDetailForm() = default;

void TDetailForm::SetChipID(std::string_view text) { SetText(ui->ChipIDEdit, text); }
void TDetailForm::SetDeviceType(std::string_view text) { SetText(ui->DeviceTypeEdit, text); }
void TDetailForm::SetDiskLetter(std::string_view text) { SetText(ui->DiskLetterEdit, text); }
void TDetailForm::SetDiskName(std::string_view text) { SetText(ui->DiskNameEdit, text); }
void TDetailForm::SetFwVer(std::string_view text) { SetText(ui->FwVerEdit, text); }
void TDetailForm::SetHDCap(std::string_view megabytes) { SetText(ui->HDCapEdit, std::string(megabytes) + " MB"); }
void TDetailForm::SetHDDFWRev(std::string_view text) { SetText(ui->HDDFWRevEdit, text); }
void TDetailForm::SetManufacture(std::string_view text) { SetText(ui->ManufactureEdit, text); }
void TDetailForm::SetProductID(std::string_view text) { SetText(ui->ProductIDEdit, text); }
void TDetailForm::SetSerialNumber(std::string_view text) { SetText(ui->SerialNumberEdit, text); }
void TDetailForm::SetSFlashType(std::string_view text) { SetText(ui->SFlashTypeEdit, text); }
void TDetailForm::SetUSBProduct(std::string_view text) { SetText(ui->USBProductEdit, text); }
void TDetailForm::SetVendorID(std::string_view text) { SetText(ui->VendorIDEdit, text); }
void TDetailForm::EnableHDDFWRev(bool enable) { ui->HDDFWRevEdit->setEnabled(enable); }

void TDetailForm::Fill(const SdkDeviceDetails& d) {
  SetChipID(d.chipId);
  SetDiskLetter(d.diskLetter);
  SetFwVer(d.fwVer);
  SetSerialNumber(d.serialNumber);
  SetVendorID(d.vendorId);
  SetProductID(d.productId);
  SetHDCap(d.hdCap);
  SetManufacture(d.manufacture);
  SetUSBProduct(d.usbProduct);
  SetSFlashType(d.flashType);
  SetDeviceType(d.deviceType);
  SetDiskName(d.diskName);
  SetHDDFWRev(d.hddFwRev);
  EnableHDDFWRev(d.hddFwRevEnabled);
}

}  // namespace sdkstation
