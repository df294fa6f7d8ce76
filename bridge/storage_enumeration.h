// The USB mass-storage disks (and CD-ROMs) the system shows: which bridge
// port carries a drive, the drives' IDENTIFY data, the USB device that owns
// each disk, and which drive letters belong to which drive. The tree walk and
// the device-list refresh match these entries with hub ports by parent id.
#pragma once

#include <cstdint>

#include "platform/device_io.h"
#include "platform/named_mutex.h"

namespace bridge {

inline constexpr int kMaxStorageEntries = 256;
inline constexpr int kMaxParentRecords = 256;
inline constexpr int kMaxEntryLetters = 7;  // per bridge port, plus the NUL
inline constexpr int kMaxDevicePathLength = 259;
// Passes of the drive-letter search while the set of drives keeps changing.
inline constexpr int kMaxDriveLetterPasses = 8;

// The bridge's port register: which ATA ports carry a drive and which are
// ATAPI.
inline constexpr uint16_t kPortRegister = 0x720F;
inline constexpr uint8_t kPort0Drive = 0x04;
inline constexpr uint8_t kPort0Atapi = 0x01;
inline constexpr uint8_t kPort1Drive = 0x40;
inline constexpr uint8_t kPort1Atapi = 0x10;

// The interface detail record as the platform returns it: size word, then
// the device path.
struct InterfaceDetailRecord {
  uint32_t cbSize;
  char DevicePath[kMaxDevicePathLength + 1];
};

struct StorageDeviceEntry {
  char port0Letters[kMaxEntryLetters + 1];  // upper case, NUL-terminated
  char port1Letters[kMaxEntryLetters + 1];
  char parentId[128];  // instance id of the owning USB device, lower case; "" none
  InterfaceDetailRecord detail;
  int32_t port0Present;
  int32_t port1Present;
  int32_t port0Atapi;
  int32_t port1Atapi;
  int32_t isScsi;  // a "scsi" (UAS) interface rather than "usbstor"
  uint8_t identify[2][512];  // port 0, port 1
  platform::StorageDeviceNumber deviceNumber;
  uint32_t devInst;
  uint32_t parentDevInst;
};

// What a scan learns about one disk-drive or CD-ROM device node.
struct ParentRecord {
  char parentId[256];  // lower case
  char idTail[256];    // lower case, class prefix removed, '\' and '/' as '#'
  uint32_t devInst;
  uint32_t parentDevInst;
};

inline const char* DevicePath(const StorageDeviceEntry& entry) { return entry.detail.DevicePath; }

// ReadBridgeRegister on the entry's device path.
[[nodiscard]] int ReadBridgeRegisterRec(const StorageDeviceEntry& entry, uint16_t address,
                                        uint8_t* buffer, uint32_t length);

// The named mutex "QVUSBAcess" that serialises device scans across
// processes; opened on first use and kept for the life of the process. Its
// owner may take it again, so a caller can hold it around a scan and the
// hub walk that follows.
inline constexpr char kUsbAccessMutexName[] = "QVUSBAcess";
platform::NamedMutex& UsbAccessMutex();

// Zeroes `*count` entries (the capacity) and fills them with the present
// "usbstor" and "scsi" disk interfaces, their ports, IDENTIFY data, device
// numbers, parents and drive letters; *count becomes the number filled.
// 0 when `count` is null or the interface list cannot be had (count kept).
// Serialised with every other scan, in any process, by "QVUSBAcess".
[[nodiscard]] int EnumerateStorageDevices(StorageDeviceEntry* entries, int* count);

// Appends the "usbstor" CD-ROM interfaces at entries[firstFree] (never past
// `capacity`), adds their number to *count, then matches parents and assigns
// drive letters once over all entries. 0 when the list cannot be had.
[[nodiscard]] int EnumerateCdromDevices(StorageDeviceEntry* entries, int capacity, int firstFree,
                                        int* count);

// Fills the port flags and the IDENTIFY cache of one entry from its bridge;
// the result of the last IDENTIFY sent, 0 when the port register cannot be
// read.
[[nodiscard]] int ProbePortsAndIdentify(StorageDeviceEntry& entry);

// Parent records of the disk-drive / CD-ROM setup class, at most `capacity`;
// always 1.
int CollectDiskParents(ParentRecord* records, int capacity, int* count);
int CollectCdromParents(ParentRecord* records, int capacity, int* count);

// Empties the letter fields of entries[0..count) and gives every drive
// letter of a matching storage device to the bridge port it lives on.
void AssignDriveLetters(StorageDeviceEntry* entries, int count);

// IDENTIFY of the drive behind a bridge into 512 bytes: by SAT when `useSat`,
// else through the bridge for each port that has a drive (port 1 last).
// The result of the last command sent; 0 when no port has a drive.
[[nodiscard]] int IdentifyDevice(const char* devicePath, uint8_t* buffer, int useSat);

// 1 when `part` occurs in `text`, letters compared without case.
[[nodiscard]] int ContainsText(const char* text, const char* part);

}  // namespace bridge
