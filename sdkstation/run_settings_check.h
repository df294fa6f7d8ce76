// The checks START and the test loop make before a run of the second
// program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdkstation/sdk_settings_block.h"

namespace sdkstation {

inline constexpr char kFlashNullMessage[] = "Flash is NULL, must be update EEPROM and Firmware together!";
inline constexpr char kBlankSerialMessage[] = "S/N String field can not be blank.";
inline constexpr char kFirmwareFileMessage[] = "Please make sure the correct firmware filename!";
inline constexpr char kFirmwareNotForAllChips[] = "Firmware File not support all chips!";

// What the checks read of the window besides the settings block.
struct RunCheckInput {
  bool eraseFlashChecked = false;          // cbEraseFlash
  bool eraseFlashForDebugChecked = false;  // cbEraseFlashForDebug
  std::vector<int32_t> runningModes;       // of the attached devices, in list order
  std::string firstDevicePath;             // device 0 of the library's list
  std::string serialNumber;                // SerialNumberEdit
  std::string softwareImagePath;           // SwImgPathEdit
  std::string firmwareFile;                // FwFileNameEdit
};

struct RunCheck {
  bool mayRun = false;
  bool focusSerialNumber = false;  // the refusal was the blank serial number
};

// The checks in their order; a refusal shows its message (none when no step
// is selected).
RunCheck CheckRunSettings(const SdkSettingsBlock& settings, const RunCheckInput& input);

}  // namespace sdkstation
