// The relink after a bridge reset: the reset under the device lock, the
// re-find of the product by its hub port, one try at a time under the lock,
// and the meeting point that lets no worker leave while another is still
// between its reset and its re-find.
#pragma once

#include <cstdint>

#include "bridge/port_table.h"
#include "station/pass_state.h"

namespace station {

enum class ResetKind : uint8_t {
  Bridge,       // the bridge reset vendor command
  WriteBuffer,  // WRITE BUFFER mode 0Fh, no data
};

// One look for the product of `record` after its reset: reads its hub port
// again, enumerates the storage interfaces into the pass's table and, when
// one belongs to that port, refreshes the record (path, instance id, device
// nodes, chip type, capacity, firmware version; the drive letter is gone
// with the old volume). Sets the record's found-again flag; returns the
// number of storage interfaces found (0 also for an empty hub port). The
// caller holds the device lock. `typeC` does not change the outcome.
[[nodiscard]] int RelinkFindDevice(PassState& pass, bridge::PortRecord& record, int32_t typeC);

// The whole relink of one worker. `resetWait` is the number of re-find tries
// (below 1: one). Returns whether the product was found again; the worker's
// fail flag becomes 1 when it was not.
[[nodiscard]] bool RelinkAfterReset(PassState& pass, bridge::PortRecord& record, ResetKind reset,
                                    int32_t resetWait, int32_t typeC, int& failFlag);

}  // namespace station
