#include "sdkstation/run_settings_check.h"

#include "platform/message_box.h"
#include "platform/text.h"
#include "qvfw/qvfw_api.h"
#include "sdkstation/device_sdk.h"
#include "sdkstation/sdk_pass_state.h"
#include "sdkstation/sdk_production_pass.h"
#include "station/software_copy.h"

namespace sdkstation {

RunCheck CheckRunSettings(const SdkSettingsBlock& s, const RunCheckInput& in) {
  RunCheck check;
  const bool anyStep = in.eraseFlashChecked || s.EnPartition || s.EnFormat || s.EnRWTest || s.EnEEPROMUpdate ||
                       s.EnFWUpdate || s.EnVenderCheck || s.EnUSB30Check || s.EnUSB31Gen2Check || s.EnSWCopy ||
                       s.EnFWCheck || s.EnFolderCompare || in.eraseFlashForDebugChecked;
  if (!anyStep) return check;
  for (const int32_t mode : in.runningModes) {
    if (mode != qvfw::kModeFirmware && (s.EnEEPROMUpdate != 0) != (s.EnFWUpdate != 0)) {
      platform::ShowMessage(kFlashNullMessage);
      return check;
    }
  }
  if (s.EnEEPROMUpdate && in.serialNumber.empty()) {
    (void)platform::MessageBox(kBlankSerialMessage, "Warning", platform::kMbOk | platform::kMbIconWarning);
    check.focusSerialNumber = true;
    return check;
  }
  if (s.EnSWCopy && !station::IsFolder(std::string(platform::FolderPart(in.softwareImagePath)))) {
    platform::ShowMessage(kSoftwareImagePathInvalid);
    return check;
  }
  if ((s.EnFWUpdate || s.EnFWCheck) && FieldText(s.FwFileName).empty()) {
    (void)platform::MessageBox(kFirmwareFileMessage, "Warning", platform::kMbOk);
    return check;
  }
  if (!s.EnFWUpdate || DeviceSdk().QV_CheckLoadBinFileMatch(in.firstDevicePath.c_str(), in.firmwareFile.c_str())) {
    check.mayRun = true;
    return check;
  }
  platform::ShowMessage(kFirmwareNotForAllChips);
  return check;
}

}  // namespace sdkstation
