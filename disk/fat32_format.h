// The station's own FAT32 formatter: a complete FAT32 file system on the
// volume of a drive letter, the MBR partition type set to FAT32, and the
// volume handed back to the system.
#pragma once

#include <cstdint>

#include "platform/device_io.h"

namespace disk {

struct Fat32FormatRequest {
  uint32_t clusterSizeBytes = 0;  // 0: by partition size
  const char* label = nullptr;    // cut to 11 characters; null or empty: "NO NAME"
};

// 1 on success, 0 on failure (the caller retries). Opens, locks and
// dismounts the volume itself; takes no lock of the station. Without
// `quick` the partition is verified first (never failing the format).
[[nodiscard]] int FormatFat32(char driveLetter, const Fat32FormatRequest& request, int quick);

// 16 MiB pieces of IOCTL_DISK_VERIFY; a failed piece is verified again in
// halves while half the cap is more than 64 KiB. 1 when the range verified.
inline constexpr uint32_t kVerifyPieceBytes = 0x1000000;
[[nodiscard]] int VerifyRange(platform::Handle volume, int64_t start, uint32_t length,
                              uint32_t cap);

// Sector I/O on the open volume, relative to the partition start; 1/0.
[[nodiscard]] int64_t SeekSector(uint64_t sector, uint32_t bytesPerSector);
int write_sect(platform::Handle volume, uint64_t sector, uint32_t bytesPerSector,
               const void* data, uint32_t count);
int zero_sectors(platform::Handle volume, uint64_t firstSector, uint32_t bytesPerSector,
                 uint64_t count);

// The volume-label entry (the label's 11 bytes and attribute 0x08) over the
// start of a disk-absolute sector, by READ(10) and WRITE(10) on the open
// volume. 1 when both commands succeeded.
[[nodiscard]] int WriteFat32LabelEntry(platform::Handle volume, const char* label, uint64_t sector);

}  // namespace disk
