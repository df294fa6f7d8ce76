// The scan that the pass and the device list refresh start from: storage
// interfaces, then the USB tree walk into a cleared PortTable.
#pragma once

#include "bridge/port_table.h"
#include "bridge/storage_enumeration.h"
#include "bridge/usb_tree.h"

namespace station {

// Clears every record of `table`, fills `entries` (room for
// bridge::kMaxStorageEntries) with the disk interfaces and, with
// `withCdrom`, the CD-ROM interfaces after them, then walks the root hubs
// into the table. *entryCount (may be null) receives the number of entries
// filled; a scan that cannot list the interfaces counts 0. Returns that
// number.
[[nodiscard]] int EnumerateDevices(int withCdrom, bridge::PortTable& table,
                                   bridge::StorageDeviceEntry* entries, int* entryCount,
                                   const bridge::UsbWalkOptions& options,
                                   bridge::EppDeviceRecord* eppDevice);

}  // namespace station
