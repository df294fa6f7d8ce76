#include "station/device_enumeration.h"

namespace station {

int EnumerateDevices(int withCdrom, bridge::PortTable& table, bridge::StorageDeviceEntry* entries,
                     int* entryCount, const bridge::UsbWalkOptions& options,
                     bridge::EppDeviceRecord* eppDevice) {
  table.Clear();
  int count = entries ? bridge::kMaxStorageEntries : 0;
  if (!bridge::EnumerateStorageDevices(entries, &count)) count = 0;
  if (withCdrom && entries) {
    int found = count;
    if (bridge::EnumerateCdromDevices(entries, bridge::kMaxStorageEntries, count, &found)) count = found;
  }
  bridge::UsbWalk walk{table, entries, count, options, eppDevice};
  static_cast<void>(bridge::EnumerateRootHubs(walk));  // the hub count is not wanted here
  if (entryCount) *entryCount = count;
  return count;
}

}  // namespace station
