// The FAT32 volume layout the station writes: the size arithmetic, the boot
// sector, the FSInfo sector and the first sector of each FAT. Pure functions
// over sector buffers, so the layout can be checked without a disk.
#pragma once

#include <cstdint>

namespace disk {

inline constexpr uint32_t kFat32ReservedSectors = 32;
inline constexpr uint32_t kFat32NumberOfFats = 2;
inline constexpr uint32_t kFat32FsInfoSector = 1;
inline constexpr uint32_t kFat32BackupBootSector = 6;
inline constexpr uint32_t kFat32RootCluster = 2;
inline constexpr uint32_t kFat32LabelLength = 11;
inline constexpr uint32_t kFat32MinSectors = 65536;
inline constexpr uint64_t kFat32MaxSectors = 0xFFFFFFFFull;  // this many or more: refused
// Cluster numbers run from 2 to the count + 1 and must stay below the values
// FAT32 keeps for itself (0x0FFFFFF7 marks a bad cluster); the tools refuse
// a volume of more clusters than this.
inline constexpr uint32_t kFat32MaxClusters = 0x0FFFFFF4;
inline constexpr uint32_t kFat32MinClusters = 65525;
inline constexpr uint32_t kFat32MaxSectorsPerCluster = 128;
// On 4096-byte-sector disks clusters stay within the 32 KiB the published
// format allows.
inline constexpr uint32_t kFat32MaxClusterBytesLargeSectors = 32 * 1024;
inline constexpr uint8_t kFat32Media = 0xF8;

// Each routine whose divisor comes from the platform refuses a zero divisor
// with a message box holding its name and answers 0.
// 4 x (total - reserved) / (spc x bps + 4 x fats) + 1, in whole numbers.
uint32_t get_fat_size_sectors(uint64_t totalSectors, uint32_t reservedSectors,
                              uint32_t sectorsPerCluster, uint32_t numberOfFats,
                              uint32_t bytesPerSector);
// clusterKiB x 1024 / bytesPerSector.
uint32_t get_spc(uint32_t clusterKiB, uint32_t bytesPerSector);
// Sectors per cluster by partition size: up to 512 MiB one sector, then
// 4 KiB, above 8 GiB 8 KiB, above 16 GiB 16 KiB, above 32 GiB 32 KiB.
[[nodiscard]] uint32_t DefaultSectorsPerCluster(uint64_t partitionBytes, uint32_t bytesPerSector);
// From a requested cluster size (0 = by partition size): at least 1, a power
// of two, at most 128 and, on sectors larger than 512 bytes, at most 32 KiB.
[[nodiscard]] uint32_t ChooseSectorsPerCluster(uint32_t clusterBytes, uint64_t partitionBytes,
                                               uint32_t bytesPerSector);

// The serial number from the local time, in 16-bit arithmetic.
struct VolumeIdTime {
  uint16_t year, month, day, hour, minute, second, millisecond;
};
[[nodiscard]] uint32_t MakeVolumeId(const VolumeIdTime& time);
[[nodiscard]] uint32_t MakeVolumeId();  // now

enum class Fat32PlanResult {
  Ok,
  TooSmall,        // fewer than 65,536 sectors
  TooSmallForClusters,  // fewer clusters than a FAT32 volume may have: systems
                        // would read it as FAT16
  TooBig,          // 2^32 - 1 sectors or more
  TooManyClusters, // more than kFat32MaxClusters
  FatTooSmall,     // the FAT cannot hold every cluster's entry
  ZeroDivisor,
};

// Every number of the layout.
struct Fat32Layout {
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t totalSectors = 0;
  uint32_t fatSizeSectors = 0;   // per FAT
  uint32_t clusterCount = 0;
  uint32_t hiddenSectors = 0;
  uint16_t sectorsPerTrack = 0;
  uint16_t heads = 0;
  uint32_t volumeId = 0;
  char label[kFat32LabelLength] = {};  // space-padded, no NUL

  // Reserved sectors, both FATs and the root cluster: what is cleared.
  uint32_t systemAreaSectors() const {
    return kFat32ReservedSectors + kFat32NumberOfFats * fatSizeSectors + sectorsPerCluster;
  }
  // The root directory's first sector, relative to the volume.
  uint32_t rootDirSector() const {
    return kFat32ReservedSectors + kFat32NumberOfFats * fatSizeSectors;
  }
  uint32_t fatSector(uint32_t fat) const { return kFat32ReservedSectors + fat * fatSizeSectors; }
};

// Sizes the FAT so it holds cluster count + 2 entries and derives the
// cluster count; `layout` carries the sector size, sectors per cluster and
// total sectors in, the FAT size and cluster count out.
Fat32PlanResult PlanFat32(uint64_t totalSectors, Fat32Layout* layout);

// The next larger cluster size ChooseSectorsPerCluster allows, 0 when
// there is none.
[[nodiscard]] uint32_t NextSectorsPerCluster(uint32_t sectorsPerCluster, uint32_t bytesPerSector);
// PlanFat32, taking the next larger cluster size while the volume would
// have too many clusters; TooManyClusters only when no size is left.
Fat32PlanResult PlanFat32Volume(uint64_t totalSectors, Fat32Layout* layout);

// The 11 label bytes: the label cut to 11, space-padded; "NO NAME    "
// for an empty or null label.
void Fat32LabelField(const char* label, char out[kFat32LabelLength]);

// Fill sector buffers of layout.bytesPerSector bytes (cleared first).
void BuildFat32BootSector(const Fat32Layout& layout, uint8_t* sector);
void BuildFat32FsInfo(const Fat32Layout& layout, uint8_t* sector);
void BuildFirstFatSector(uint32_t bytesPerSector, uint8_t* sector);

}  // namespace disk
