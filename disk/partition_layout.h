// The disk behind a storage interface: its partition table (one partition
// from sector 63 to the end).
#pragma once

#include <cstdint>

#include "bridge/storage_device.h"
#include "platform/device_io.h"
#include "platform/disk_ioctl.h"

namespace disk {

// IOCTL_DISK_GET_DRIVE_GEOMETRY and the 24 bytes it returns.
using platform::DiskGeometry;
using platform::kIoctlDiskGetDriveGeometry;

// The drive letters and size of a disk are the bridge library's; the names
// stay here for the disk's callers.
using bridge::FindDriveLetter;
using bridge::FindDriveLetters;
using bridge::GetDiskSizeMB;
using bridge::kDriveLetterCount;

// Whole sectors at a disk-absolute byte offset of an open disk; true when
// all `bytes` were written.
[[nodiscard]] bool WriteSectorAt(platform::Handle device, uint64_t offset, const uint8_t* sector,
                   uint32_t bytes);

// Where the one partition of both layout forms starts, in sectors.
inline constexpr uint32_t kPartitionStartSector = 63;
// Write attempts, and the pause after a failed one, of the old boot
// sector's clearing.
inline constexpr int kClearBootSectorTries = 5;
inline constexpr uint32_t kClearBootSectorRetryMs = 300;
inline constexpr uint32_t kLegacyLayoutBytes = platform::DriveLayoutBytes(5);    // 168
inline constexpr uint32_t kExtendedLayoutBytes = platform::DriveLayoutExBytes(5);  // 768

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
[[nodiscard]] int CreateDiskLayout(const char* devicePath);

// The legacy form (Windows 2000): the MBR template to sector 0, then the
// first entry through the older layout requests. 1 when both succeeded.
// Refuses what CreateDiskLayout refuses.
[[nodiscard]] int WriteLegacyLayout(const char* devicePath);

}  // namespace disk
