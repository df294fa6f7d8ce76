// The port rows of the main window as text: one row per port slot with the
// port's caption and its 13 cells, rebuilt from the port table on every
// WM_PORT_UPDATE; the yield count that consumes each port's final result;
// the progress of a pass; the colour rule of the result cells. Both
// programs draw their port lists from these.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/port_table.h"
#include "station/settings_block.h"

namespace station {

inline constexpr int kPortRowCells = 13;

// The text of a step status word in a row; "" for a word outside -1..4.
const char* ListStatusText(int32_t status);

struct PortRow {
  bool present = false;
  std::string caption;                           // the hub port number
  std::array<std::string, kPortRowCells> cells;  // list columns 1-13
};

// The row of one record; an empty row when the port is not present.
PortRow BuildPortRow(const bridge::PortRecord& record, const SettingsBlock& settings,
                     const StationOptions& options);

// Counts each present port's final result into the yield counters of
// `counters`, taking the word (it is left 0) so that a result is counted
// exactly once however many rebuilds follow. Outside the Type-C mode a pass
// counts one test and one pass, a fail one test; in the Type-C mode the
// first pass of a round counts the test, the third the pass.
void CountPortResults(bridge::PortTable& table, SettingsBlock& counters, bool typeC, int32_t eppPassIndex);

// The sum of the present ports' progress values.
int32_t ProgressSum(const bridge::PortTable& table);

// The progress of a Type-C round: the three passes weigh alike, so the
// first pass done is a third. Never below what it showed before in the round.
int32_t TypeCRoundProgress(int32_t previous, int32_t passIndex, int32_t passProgress);

// How a result cell is drawn: a "Fail" or "Unmatched" red and bold, a
// "Pass" blue and bold, anything else as it is.
enum class CellStyle { kPlain, kFailRed, kPassBlue };
CellStyle ResultCellStyle(std::string_view text);

}  // namespace station
