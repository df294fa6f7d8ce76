#include "sdkstation/device_mix_check.h"

#include <optional>

#include "platform/message_box.h"
#include "sdkstation/device_sdk.h"
#include "sdkstation/disk_checks.h"
#include "station/settings_collection.h"

namespace sdkstation {
namespace {

// Every device's capacity against the chosen one; false after the message.
bool CapacitiesFit(const SdkPortTable& ports, int count, SdkSettingsBlock& block, const StationOptions& options,
                   const MixControls& controls) {
  if (block.Capacity == 0 || controls.cloneProduct) return true;
  for (int i = 0; i < count; ++i) {
    std::optional<int32_t> expected = block.Capacity;
    if (block.Capacity == station::kUserDefinedCapacity) {
      // A typed text that is no number is no capacity to start with.
      expected = station::ConvertInteger(controls.userCapacity);
      if (expected) block.CapacityCustomize = *expected;
    }
    if (!expected || !IsCapacityWithinTolerance(options, ports[static_cast<size_t>(i)].capacityMB, *expected)) {
      platform::ShowMessage(kCapacityMessage);
      return false;
    }
  }
  return true;
}

}  // namespace

MixDecision JudgeDeviceMix(const SdkPortTable& ports, int count, SdkSettingsBlock& block,
                           const StationOptions& options, const MixControls& controls) {
  count = ClampDeviceCount(count);
  bool mayStart = !controls.runActive && count > 0;
  if (mayStart) mayStart = CapacitiesFit(ports, count, block, options, controls);
  if (mayStart && ChipTypesDiffer(ports, count)) {
    mayStart = false;
    platform::MessageBox(kMultipleModelsMessage, "Error", platform::kMbOk);
  } else if (mayStart && controls.firmwareChosen && !FieldText(block.FwFileName).empty()) {
    const std::string file(FieldText(block.FwFileName));
    if (DeviceSdk().QV_CheckLoadBinFileMatch(ports[0].devicePath, file.c_str()) == 0) {
      mayStart = false;
      platform::ShowMessage(kFirmwareNotForAllChips);
    }
  }
  MixDecision decision;
  if (mayStart && (options.MPAutorun != 0 || block.EnBarcodeMode != 0)) {
    decision.autoStartReady = true;
    mayStart = false;
  }
  decision.mayStart = mayStart;
  return decision;
}

}  // namespace sdkstation
