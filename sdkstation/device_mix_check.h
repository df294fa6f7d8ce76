// Whether START may be pressed for the devices the last listing found:
// capacities within tolerance, one chip model, a firmware file that suits
// the chips. The decision of EnumUSBDevice and of the firmware handlers.
#pragma once

#include <string>

#include "sdkstation/sdk_port_table.h"
#include "sdkstation/sdk_settings_block.h"

namespace sdkstation {

inline constexpr char kCapacityMessage[] = "Check the Capacity check setting!!";
inline constexpr char kMultipleModelsMessage[] = "Multiple devices must be of the same Chip model!";
inline constexpr char kFirmwareNotForAllChips[] = "Firmware File not support all chips!";

// The window's state the decision reads.
struct MixControls {
  bool runActive = false;
  bool cloneProduct = false;      // cbCloneProduct checked
  std::string userCapacity;       // CapacityUserDefEdit
  bool firmwareChosen = false;    // FWUpdateCheckBox or FWCheckBox checked
};

struct MixDecision {
  bool mayStart = false;        // START enabled
  bool autoStartReady = false;  // every condition held in auto-run or bar-code mode
};

// The checks of CheckDeviceMix(-1), each with its message, stopping at the
// first that fails. With the user-defined capacity, the edit's number goes
// into CapacityCustomize; a text that is no number fails the capacity check.
// In auto-run or bar-code mode a pass of every check sets autoStartReady
// and leaves START disabled.
MixDecision JudgeDeviceMix(const SdkPortTable& ports, int count, SdkSettingsBlock& block,
                           const StationOptions& options, const MixControls& controls);

}  // namespace sdkstation
