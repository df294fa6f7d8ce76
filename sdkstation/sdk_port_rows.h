// The second program's port rows as text: one row per listed device, in the
// library's order, with this program's cells. The status texts are the
// first program's (station::ListStatusText).
#pragma once

#include "sdkstation/sdk_port_table.h"
#include "sdkstation/sdk_settings_block.h"
#include "station/port_rows.h"

namespace sdkstation {

// The row of one record. Only texts the listing wrote on the interface
// thread are read (a relink rewrites the device path and the letter, which
// no cell shows), each within its field; every word a worker writes is
// loaded once, so a cell never mixes two of its states.
station::PortRow BuildSdkPortRow(const SdkPortRecord& record, const SdkSettingsBlock& settings);

}  // namespace sdkstation
