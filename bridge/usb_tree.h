// The USB hub tree walk: every root hub and the hubs below it, each connected
// device given a PortTable slot with its hub location, driver key, instance
// id, USB ids and strings; a device keeps its slot when it is a known bridge
// or no storage device at all. Also the re-read of one port after a reset and
// the negotiated speed of a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/port_table.h"
#include "bridge/storage_enumeration.h"
#include "platform/device_io.h"
#include "platform/usb_ioctl.h"

namespace bridge {

inline constexpr int kMaxHubInterfaces = 64;
inline constexpr size_t kHubInterfaceDetailSize = 1024;
// Hubs below a root hub; USB allows five tiers, the rest guards against a
// tree that loops.
inline constexpr int kMaxHubDepth = 8;
inline constexpr std::string_view kEppSerialPrefix = "6A3E41649";

// A hub interface whose path holds one of these is walked.
inline constexpr std::string_view kRootHubNames[] = {
    "root_hub20", "root_hub30", "asmediausbd_hub", "root_hub_fl30",
    "tiusbd_hub", "via_root_hub", "root_hub",
};

// What the walk reports when a wanted device finds no free slot.
inline constexpr char kPortIndexExceeded[] = "Error: Port index exceeds maximum value 16.";
static_assert(kPortCount == 16, "the message names the slot count");

// The station options the walk follows.
struct UsbWalkOptions {
  int32_t EnEPPTypeC = 0;  // non-zero: the power-control device goes to its own record
};

// What one walk fills and matches against.
struct UsbWalk {
  PortTable& table;
  const StorageDeviceEntry* entries = nullptr;  // the filled storage entries
  int entryCount = 0;
  UsbWalkOptions options;
  EppDeviceRecord* eppDevice = nullptr;  // may be null: the device is then only given back
  // A caller that opens no window (the device library) takes the message
  // from `portIndexExceeded` instead of a box.
  bool quiet = false;
  bool portIndexExceeded = false;  // a wanted device found no free slot
};

// Walks every root hub into the table; the number of hub interfaces handled.
[[nodiscard]] int EnumerateRootHubs(UsbWalk& walk);

// Opens one root hub and walks its ports; 0, or the platform error code when
// the hub cannot be opened or its node information cannot be read.
[[nodiscard]] uint32_t OpenRootHub(UsbWalk& walk, const char* hubPath, int* slotNumber);

// Walks the ports 1..portCount of one open hub, hubs below it depth-first.
void GetPortData(UsbWalk& walk, platform::Handle hub, uint32_t portCount, int depth,
                 const char* hubName, int* slotNumber);

// Reads one port again after a reset: driver key, instance id, in use, hub
// handle and hub name into `record`; USB ids and strings into table slot
// `slotNumber`. 1 when a device was read, 0 when nothing was written.
[[nodiscard]] int GetOnePortData(PortTable& table, const char* hubName, uint32_t port,
                                 PortRecord& record, int slotNumber);

// Speed code of a port: 0 low, 1 full, 2 high, 3 super, 4 super-plus, 255
// unknown (the query failed).
int32_t GetPortSpeed(const char* hubName, uint32_t port);

// Stores VID and PID in slot `slotNumber` and reads its three strings; the
// language id in use.
uint16_t DisplayDeviceDescriptor(PortTable& table, platform::Handle hub, uint32_t port,
                                 int slotNumber, uint16_t languageId,
                                 const platform::UsbDeviceDescriptor& descriptor);

// One string descriptor (learning the language id first when it is 0); the
// second also converts it into `text`, cut to `textSize` - 1 characters ("" on
// failure). Both return the language id in use.
[[nodiscard]] uint16_t DisplayStringDescriptor(platform::Handle hub, uint32_t port,
                                               uint16_t languageId, uint8_t index);
[[nodiscard]] uint16_t GetStringDescriptorText(platform::Handle hub, uint32_t port,
                                               uint16_t languageId, uint8_t index, char* text,
                                               size_t textSize);

// The driver key name of the device on a port; none when the hub gives none.
std::optional<std::string> ReadDriverKeyName(platform::Handle hub, uint32_t port);

// The instance id of the device node whose driver key equals `driverKey`
// (without case); none when no node has it.
std::optional<std::string> FindDeviceIdByDriverKey(const char* driverKey);

// Whole-id match of a USB instance id with a storage entry's parent id,
// without case; an empty id matches nothing.
[[nodiscard]] bool InstanceIdMatches(std::string_view instanceId, const char* parentId);

// The storage entry a table record belongs to, by its whole instance id (the
// record's field may hold it cut, so the id is looked up again by driver
// key); -1 when none.
[[nodiscard]] int FindStorageEntryOfPort(const PortRecord& record,
                                         const StorageDeviceEntry* entries, int count);

}  // namespace bridge
