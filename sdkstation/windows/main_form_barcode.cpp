// The bar-code entry: in bar-code mode a scan into SerialNumberEdit ended by
// Enter starts the run when it has the configured length.
#include <QLineEdit>

#include <string>

#include "platform/message_box.h"
#include "sdkstation/windows/main_form.h"
#include "station/windows/control_events.h"
#include "station/windows/option_rules.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr char kDeviceNotReady[] = "Device is not Ready ! or Device is not connected !";
constexpr char kFirmwareNotForAllChips[] = "Firmware File not support all chips!";
constexpr char kChipsDiffer[] = "Chips are Different model !";
constexpr char kBarcodeLength[] = "BarCode Length Don't match INI setting";

}  // namespace

char TMainForm::SerialNumberEditKeyPress(char key) {
  const char typed = station::HexKeyRule(key, Options().MPSnAToZ != 0);
  if (!settings_.EnBarcodeMode) return typed;
  if (DeviceWorkRuns() || !settings_.EnEEPROMUpdate) return 0;
  if (key != '\r') return typed;
  const char* warning = nullptr;
  const std::string firmware(FieldText(settings_.FwFileName));
  if (deviceCount_ <= 0) warning = kDeviceNotReady;
  else if ((settings_.EnFWUpdate || settings_.EnFWCheck) &&
           DeviceSdk().QV_CheckLoadBinFileMatch((*deviceList_)[0], firmware.c_str()) == 0)
    warning = kFirmwareNotForAllChips;
  else if (ChipTypesDiffer()) warning = kChipsDiffer;
  if (warning == nullptr && ui->SerialNumberEdit->text().size() == settings_.BarcodeLength) {
    ExecuteBtnClick();
    return 0;
  }
  static_cast<void>(platform::MessageBox(warning ? warning : kBarcodeLength, "Warning",
                                         platform::kMbOk | platform::kMbIconWarning));
  ui->SerialNumberEdit->clear();
  return 0;
}

}  // namespace sdkstation
