// The disk behind a storage interface: its drive letters and its size from
// the drive geometry.
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

}  // namespace disk
