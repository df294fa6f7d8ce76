// The disk behind a storage interface path: its drive letters, its size from
// the drive geometry, and whether it holds the system's own folder.
#pragma once

#include <cstdint>

#include "platform/disk_ioctl.h"

namespace bridge {

inline constexpr int kDriveLetterCount = 26;

// Every drive letter from A to Z whose storage device is the disk of
// `devicePath` (device type and number equal; the partition is not
// compared), in order, NUL-terminated; the drive of the Windows folder is
// never among them. `letters` holds kDriveLetterCount + 1 bytes. Returns
// the number of letters; 0 also when the path's own number cannot be read.
[[nodiscard]] int FindDriveLetters(const char* devicePath, char* letters);

// 1 and the first of those letters, upper case; 0 when there is none.
[[nodiscard]] int FindDriveLetter(const char* devicePath, char* driveLetter);

// The disk's byte size from its geometry divided by 2^20, rounded down; 0
// when the disk cannot be opened or its geometry cannot be read.
[[nodiscard]] uint32_t GetDiskSizeMB(const char* devicePath);

// The disk's byte size from its geometry; false when the product of the
// four fields is no disk (negative, or beyond 64 bits).
[[nodiscard]] bool GeometryBytes(const platform::DiskGeometry& geometry, uint64_t* bytes);

// The disk of the Windows folder's drive; false also when either number
// cannot be read.
[[nodiscard]] bool IsSystemDisk(const char* devicePath);

}  // namespace bridge
