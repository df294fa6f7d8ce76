// FAT32 layout arithmetic and the fixed sectors of a new volume.
#include "disk/fat32_layout.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/message_box.h"

namespace disk {
namespace {

void StoreLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void StoreLe32(uint8_t* p, uint32_t v) {
  StoreLe16(p, v);
  StoreLe16(p + 2, v >> 16);
}

void ZeroDivisor(const char* routine) {
  platform::MessageBox(routine, "Error", platform::kMbOk);
}

constexpr uint64_t kBytesPerMiB = 1048576;

}  // namespace

uint32_t get_fat_size_sectors(uint64_t totalSectors, uint32_t reservedSectors,
                              uint32_t sectorsPerCluster, uint32_t numberOfFats,
                              uint32_t bytesPerSector) {
  const uint64_t divisor = uint64_t{sectorsPerCluster} * bytesPerSector + 4ull * numberOfFats;
  if (divisor == 0) {
    ZeroDivisor("get_fat_size_sectors");
    return 0;
  }
  const uint64_t dataSectors = totalSectors > reservedSectors ? totalSectors - reservedSectors : 0;
  return static_cast<uint32_t>(4 * dataSectors / divisor + 1);
}

uint32_t get_spc(uint32_t clusterKiB, uint32_t bytesPerSector) {
  if (bytesPerSector == 0) {
    ZeroDivisor("get_spc");
    return 0;
  }
  return static_cast<uint32_t>(uint64_t{clusterKiB} * 1024 / bytesPerSector);
}

uint32_t DefaultSectorsPerCluster(uint64_t partitionBytes, uint32_t bytesPerSector) {
  const uint64_t mib = partitionBytes / kBytesPerMiB;
  if (mib <= 512) return 1;
  if (mib > 32768) return get_spc(32, bytesPerSector);
  if (mib > 16384) return get_spc(16, bytesPerSector);
  if (mib > 8192) return get_spc(8, bytesPerSector);
  return get_spc(4, bytesPerSector);
}

namespace {

// 128 sectors; on sectors larger than 512 bytes no more than 32 KiB.
uint32_t LargestSectorsPerCluster(uint32_t bytesPerSector) {
  if (bytesPerSector > 512) {
    return std::max(1u, std::min(kFat32MaxSectorsPerCluster,
                                 kFat32MaxClusterBytesLargeSectors / bytesPerSector));
  }
  return kFat32MaxSectorsPerCluster;
}

}  // namespace

uint32_t ChooseSectorsPerCluster(uint32_t clusterBytes, uint64_t partitionBytes,
                                 uint32_t bytesPerSector) {
  if (bytesPerSector == 0) {
    ZeroDivisor("get_spc");
    return 0;
  }
  uint32_t spc = clusterBytes != 0 ? clusterBytes / bytesPerSector
                                   : DefaultSectorsPerCluster(partitionBytes, bytesPerSector);
  if (spc == 0) spc = 1;
  // The published format knows only powers of two up to 128.
  spc = std::bit_floor(spc);
  return std::min(spc, LargestSectorsPerCluster(bytesPerSector));
}

uint32_t NextSectorsPerCluster(uint32_t sectorsPerCluster, uint32_t bytesPerSector) {
  const uint32_t next = sectorsPerCluster * 2;
  return next <= LargestSectorsPerCluster(bytesPerSector) ? next : 0;
}

uint32_t MakeVolumeId(const VolumeIdTime& t) {
  const uint16_t low = static_cast<uint16_t>((t.month * 256 + t.day) +
                                             (t.second * 256 + t.millisecond / 10));
  const uint16_t high = static_cast<uint16_t>((t.hour * 256 + t.minute) + t.year);
  return (uint32_t{high} << 16) | low;
}

uint32_t MakeVolumeId() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local = {};
  localtime_r(&seconds, &local);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  VolumeIdTime t;
  t.year = static_cast<uint16_t>(local.tm_year + 1900);
  t.month = static_cast<uint16_t>(local.tm_mon + 1);
  t.day = static_cast<uint16_t>(local.tm_mday);
  t.hour = static_cast<uint16_t>(local.tm_hour);
  t.minute = static_cast<uint16_t>(local.tm_min);
  t.second = static_cast<uint16_t>(local.tm_sec);
  t.millisecond = static_cast<uint16_t>(millis);
  return MakeVolumeId(t);
}

Fat32PlanResult PlanFat32(uint64_t totalSectors, Fat32Layout* layout) {
  if (totalSectors < kFat32MinSectors) return Fat32PlanResult::TooSmall;
  if (totalSectors >= kFat32MaxSectors) return Fat32PlanResult::TooBig;
  const uint32_t bps = layout->bytesPerSector;
  const uint32_t spc = layout->sectorsPerCluster;
  if (bps == 0 || spc == 0) {
    ZeroDivisor(bps == 0 ? "FatNeeded" : "get_fat_size_sectors");
    return Fat32PlanResult::ZeroDivisor;
  }
  const auto clustersFor = [&](uint32_t fatSize) -> uint64_t {
    const uint64_t system = kFat32ReservedSectors + uint64_t{kFat32NumberOfFats} * fatSize;
    return totalSectors > system ? (totalSectors - system) / spc : 0;
  };
  // Entries the FAT must hold: one per cluster plus the two reserved ones.
  const auto sectorsNeeded = [&](uint64_t clusters) { return ((clusters + 2) * 4 + bps - 1) / bps; };

  uint32_t fatSize = get_fat_size_sectors(totalSectors, kFat32ReservedSectors, spc,
                                          kFat32NumberOfFats, bps);
  // The estimate leaves a few sizes one entry short; grow the FAT until it
  // holds them all (each step only shrinks the cluster count).
  while (sectorsNeeded(clustersFor(fatSize)) > fatSize) ++fatSize;
  const uint64_t clusters = clustersFor(fatSize);
  layout->totalSectors = static_cast<uint32_t>(totalSectors);
  layout->fatSizeSectors = fatSize;
  if (clusters > kFat32MaxClusters) return Fat32PlanResult::TooManyClusters;
  layout->clusterCount = static_cast<uint32_t>(clusters);
  if (sectorsNeeded(clusters) > fatSize) return Fat32PlanResult::FatTooSmall;
  if (clusters < kFat32MinClusters) return Fat32PlanResult::TooSmallForClusters;
  return Fat32PlanResult::Ok;
}

Fat32PlanResult PlanFat32Volume(uint64_t totalSectors, Fat32Layout* layout) {
  Fat32PlanResult result = PlanFat32(totalSectors, layout);
  while (result == Fat32PlanResult::TooManyClusters) {
    const uint32_t next = NextSectorsPerCluster(layout->sectorsPerCluster, layout->bytesPerSector);
    if (next == 0) break;
    layout->sectorsPerCluster = next;
    result = PlanFat32(totalSectors, layout);
  }
  return result;
}

void Fat32LabelField(const char* label, char out[kFat32LabelLength]) {
  if (label == nullptr || label[0] == '\0') {
    std::memcpy(out, "NO NAME    ", kFat32LabelLength);
    return;
  }
  std::memset(out, ' ', kFat32LabelLength);
  for (uint32_t i = 0; i < kFat32LabelLength && label[i] != '\0'; ++i) out[i] = label[i];
}

void BuildFat32BootSector(const Fat32Layout& layout, uint8_t* sector) {
  const uint32_t bps = layout.bytesPerSector;
  std::memset(sector, 0, bps);
  sector[0] = 0xEB;
  sector[1] = 0x5A;
  sector[2] = 0x90;
  std::memcpy(sector + 3, "MSWIN4.1", 8);
  StoreLe16(sector + 11, bps);
  sector[13] = static_cast<uint8_t>(layout.sectorsPerCluster);
  StoreLe16(sector + 14, kFat32ReservedSectors);
  sector[16] = kFat32NumberOfFats;
  // Root entry count, 16-bit total sectors and 16-bit FAT size stay 0.
  sector[21] = kFat32Media;
  StoreLe16(sector + 24, layout.sectorsPerTrack);
  StoreLe16(sector + 26, layout.heads);
  StoreLe32(sector + 28, layout.hiddenSectors);
  StoreLe32(sector + 32, layout.totalSectors);
  StoreLe32(sector + 36, layout.fatSizeSectors);
  // Extended flags and version stay 0.
  StoreLe32(sector + 44, kFat32RootCluster);
  StoreLe16(sector + 48, kFat32FsInfoSector);
  StoreLe16(sector + 50, kFat32BackupBootSector);
  sector[64] = 0x80;
  sector[66] = 0x29;
  StoreLe32(sector + 67, layout.volumeId);
  std::memcpy(sector + 71, layout.label, kFat32LabelLength);
  std::memcpy(sector + 82, "FAT32   ", 8);
  sector[510] = 0x55;
  sector[511] = 0xAA;
  if (bps > 512) {
    sector[bps - 2] = 0x55;
    sector[bps - 1] = 0xAA;
  }
}

void BuildFat32FsInfo(const Fat32Layout& layout, uint8_t* sector) {
  std::memset(sector, 0, layout.bytesPerSector);
  StoreLe32(sector + 0, 0x41615252);
  StoreLe32(sector + 484, 0x61417272);
  StoreLe32(sector + 488, layout.clusterCount - 1);
  StoreLe32(sector + 492, 3);
  StoreLe32(sector + 508, 0xAA550000);
}

void BuildFirstFatSector(uint32_t bytesPerSector, uint8_t* sector) {
  std::memset(sector, 0, bytesPerSector);
  StoreLe32(sector + 0, 0x0FFFFFF8);
  StoreLe32(sector + 4, 0x0FFFFFFF);
  StoreLe32(sector + 8, 0x0FFFFFFF);
}

}  // namespace disk
