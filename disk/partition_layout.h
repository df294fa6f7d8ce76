// The disk behind a storage interface: its partition table (one partition
// from sector 63 to the end), its drive letters and its size from the drive
// geometry.
#pragma once

#include <cstdint>

#include "platform/disk_ioctl.h"

namespace disk {

// IOCTL_DISK_GET_DRIVE_GEOMETRY and the 24 bytes it returns.
using platform::DiskGeometry;
using platform::kIoctlDiskGetDriveGeometry;

inline constexpr int kDriveLetterCount = 26;

// Every drive letter from A to Z whose storage device is the disk of
// `devicePath` (device type and number equal; the partition is not
// compared), in order, NUL-terminated; the drive of the Windows folder is
// never among them. `letters` holds kDriveLetterCount + 1 bytes. Returns
// the number of letters; 0 also when the path's own number cannot be read.
int FindDriveLetters(const char* devicePath, char* letters);

// 1 and the first of those letters, upper case; 0 when there is none.
int FindDriveLetter(const char* devicePath, char* driveLetter);

// The disk's byte size from its geometry divided by 2^20, rounded down; 0
// when the disk cannot be opened or its geometry cannot be read.
uint32_t GetDiskSizeMB(const char* devicePath);

// Where the one partition of both layout forms starts, in sectors.
inline constexpr uint32_t kPartitionStartSector = 63;
// Write attempts, and the pause after a failed one, of the old boot
// sector's clearing.
inline constexpr int kClearBootSectorTries = 5;
inline constexpr uint32_t kClearBootSectorRetryMs = 300;
inline constexpr uint32_t kLegacyLayoutBytes = platform::DriveLayoutBytes(5);    // 168
inline constexpr uint32_t kExtendedLayoutBytes = platform::DriveLayoutExBytes(5);  // 768

// The disk's byte size from its geometry; false when the product of the
// four fields is no disk (negative, or beyond 64 bits).
bool GeometryBytes(const DiskGeometry& geometry, uint64_t* bytes);

// The partition entry both forms write: from sector 63 over the rest of the
// disk, number 1, type 0x07, not bootable, recognised, rewrite set, hidden
// sectors 0.
void FillLayoutEntry(const DiskGeometry& geometry, uint64_t diskBytes,
                     platform::PartitionInformation* entry);
void FillLayoutEntry(const DiskGeometry& geometry, uint64_t diskBytes,
                     platform::PartitionInformationEx* entry);

// A fresh MBR layout through the extended requests (every system after
// Windows 2000): the old volume's boot sector at sector 63 is cleared, the
// disk made MBR, the first entry set and the properties updated. 1 when
// every layout request succeeded, else 0. A disk under 63 sectors and the
// disk of the system's own folder are refused with 0.
int CreateDiskLayout(const char* devicePath);

// The legacy form (Windows 2000): the MBR template to sector 0, then the
// first entry through the older layout requests. 1 when both succeeded.
// Refuses what CreateDiskLayout refuses.
int WriteLegacyLayout(const char* devicePath);

}  // namespace disk
