// The detail window ("Device Information") of the second program: the first
// program's frame with this program's field names. It computes nothing:
// the main window fills each field through its setter, then shows it.
#pragma once

#include <QDialog>

#include <memory>
#include <string_view>

namespace Ui {
class SdkDetailForm;
}

namespace sdkstation {

struct SdkDeviceDetails;

class TDetailForm : public QDialog {
  Q_OBJECT

 public:
  explicit TDetailForm(QWidget* owner = nullptr);
  ~TDetailForm() override;

  void SetChipID(std::string_view text);
  void SetDeviceType(std::string_view text);
  void SetDiskLetter(std::string_view text);
  void SetDiskName(std::string_view text);
  void SetFwVer(std::string_view text);
  // The capacity in MB; " MB" is appended here.
  void SetHDCap(std::string_view megabytes);
  void SetHDDFWRev(std::string_view text);
  void SetManufacture(std::string_view text);
  void SetProductID(std::string_view text);
  void SetSerialNumber(std::string_view text);
  void SetSFlashType(std::string_view text);
  void SetUSBProduct(std::string_view text);
  void SetVendorID(std::string_view text);
  void EnableHDDFWRev(bool enable);

  // Every setter in the main window's order, then the revision field's switch.
  void Fill(const SdkDeviceDetails& details);

 private:
  std::unique_ptr<Ui::SdkDetailForm> ui;
};

}  // namespace sdkstation
