// What every WM_PORT_UPDATE of the second program counts and shows: each
// listed device's final result into the yield counters, once, and the
// devices' progress.
#pragma once

#include <cstdint>

#include "sdkstation/sdk_port_table.h"
#include "sdkstation/sdk_settings_block.h"

namespace sdkstation {

// Takes the final result word of each of the first `count` records (it is
// left 0): a pass counts one test and one pass, a fail one test.
void CountSdkResults(SdkPortTable& ports, int count, SdkSettingsBlock& counters);

// The mean progress of the first `count` records, 0 without any.
int32_t SdkProgress(const SdkPortTable& ports, int count);

}  // namespace sdkstation
