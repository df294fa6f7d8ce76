// FAT32 formatter on the raw volume "\\.\X:".
#include "disk/fat32_format.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "bridge/block_commands.h"
#include "disk/device_lock.h"
#include "disk/fat32_layout.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/disk_ioctl.h"
#include "platform/files.h"
#include "platform/heap_buffer.h"
#include "platform/message_box.h"

namespace disk {
namespace {

constexpr uint32_t kZeroBurstSectors = 128;
constexpr uint32_t kVerifyMinHalfCap = 0x10000;
constexpr uint32_t kOpenRetryMs = 1000;
constexpr uint8_t kAttributeVolumeLabel = 0x08;
constexpr uint32_t kDirectoryEntryBytes = 32;

// Closes the volume on every path.
class VolumeHandle {
 public:
  explicit VolumeHandle(platform::Handle handle) : handle_(handle) {}
  ~VolumeHandle() {
    if (handle_ != platform::kInvalidHandle) platform::CloseHandle(handle_);
  }
  VolumeHandle(const VolumeHandle&) = delete;
  VolumeHandle& operator=(const VolumeHandle&) = delete;
  platform::Handle get() const { return handle_; }

 private:
  platform::Handle handle_;
};

platform::Handle OpenVolume(char driveLetter) {
  const char path[] = {'\\', '\\', '.', '\\', driveLetter, ':', '\0'};
  const int tries = g_nHDDAccessRetry.load();
  for (int attempt = 0; attempt < tries; ++attempt) {
    const platform::Handle handle =
        platform::CreateFile(path, platform::kAccessRead | platform::kAccessWrite,
                             platform::kShareRead | platform::kShareWrite,
                             platform::kOpenExisting, platform::kFileFlagNoBuffering);
    if (handle != platform::kInvalidHandle) return handle;
    platform::DebugTrace("Failed to open device - close drive %c before formatting!!\n",
                         driveLetter);
    if (attempt + 1 < tries) platform::Sleep(kOpenRetryMs);
  }
  return platform::kInvalidHandle;
}

bool Control(platform::Handle volume, uint32_t code, const void* in, uint32_t inSize, void* out,
             uint32_t outSize, const char* failure) {
  if (platform::DeviceIoControl(volume, code, in, inSize, out, outSize, nullptr)) return true;
  if (failure != nullptr) platform::DebugTrace("%s", failure);
  return false;
}

}  // namespace

int64_t SeekSector(uint64_t sector, uint32_t bytesPerSector) {
  return static_cast<int64_t>(sector * bytesPerSector);
}

int write_sect(platform::Handle volume, uint64_t sector, uint32_t bytesPerSector,
               const void* data, uint32_t count) {
  const uint64_t bytes = uint64_t{count} * bytesPerSector;
  uint32_t written = 0;
  if (bytes > UINT32_MAX ||
      !platform::SetFilePointerEx(volume, SeekSector(sector, bytesPerSector), nullptr,
                                  platform::kFileBegin) ||
      !platform::WriteFile(volume, data, static_cast<uint32_t>(bytes), &written) ||
      written != bytes) {
    platform::DebugTrace("write_sect Failed to write");
    return 0;
  }
  return 1;
}

int zero_sectors(platform::Handle volume, uint64_t firstSector, uint32_t bytesPerSector,
                 uint64_t count) {
  const int64_t frequency = platform::QueryPerformanceFrequency();
  if (bytesPerSector == 0 || frequency == 0) {
    platform::MessageBox("zero_sectors", "Error", platform::kMbOk);
    return 0;
  }
  const size_t burstBytes = size_t{kZeroBurstSectors} * bytesPerSector;
  platform::HeapBuffer zeros(burstBytes, platform::kPageSize);
  if (!zeros.valid()) return 0;
  const int64_t begin = platform::QueryPerformanceCounter();
  bool ok = platform::SetFilePointerEx(volume, SeekSector(firstSector, bytesPerSector), nullptr,
                                       platform::kFileBegin);
  uint64_t remaining = ok ? count : 0;
  uint64_t written = 0;
  while (remaining > 0) {
    const uint32_t burst = static_cast<uint32_t>(std::min<uint64_t>(kZeroBurstSectors, remaining));
    const uint32_t bytes = burst * bytesPerSector;
    uint32_t done = 0;
    if (!platform::WriteFile(volume, zeros.data(), bytes, &done) || done != bytes) {
      platform::DebugTrace("zero_sectors Failed to write");
      ok = false;
      // Positions past a failed burst are unknown; a cleared system area is
      // the point of the call, so it ends here as a failure.
      break;
    }
    written += bytes;
    remaining -= burst;
  }
  const double seconds =
      static_cast<double>(platform::QueryPerformanceCounter() - begin) / static_cast<double>(frequency);
  platform::DebugTrace("Wrote %" PRIu64 " bytes in %g seconds, %f bytes/sec\n", written, seconds,
                       seconds > 0 ? static_cast<double>(written) / seconds : 0.0);
  return ok ? 1 : 0;
}

int VerifyRange(platform::Handle volume, int64_t start, uint32_t length, uint32_t cap) {
  platform::VerifyInformation verify = {};
  verify.StartingOffset = start;
  verify.Length = length;
  if (platform::DeviceIoControl(volume, platform::kIoctlDiskVerify, &verify, sizeof(verify),
                                nullptr, 0, nullptr)) {
    return 1;
  }
  const uint32_t half = cap / 2;
  if (half <= kVerifyMinHalfCap || length <= 1) return 0;
  const uint32_t first = length / 2;
  const int a = VerifyRange(volume, start, first, half);
  const int b = VerifyRange(volume, start + first, length - first, half);
  return a && b;
}

int WriteFat32LabelEntry(platform::Handle volume, const char* label, uint64_t sector) {
  // A volume without a label has no label entry; the boot sector says
  // "NO NAME".
  if (label == nullptr || label[0] == '\0') return 1;
  const uint32_t blockLength = bridge::ReadCapacity10Handle(volume);
  // The device's block length sizes the buffer the entry is copied into.
  if (blockLength < kDirectoryEntryBytes) return 0;
  platform::HeapBuffer buffer(blockLength, platform::kPageSize);
  if (!buffer.valid()) return 0;
  uint8_t entry[12];
  Fat32LabelField(label, reinterpret_cast<char*>(entry));
  entry[11] = kAttributeVolumeLabel;
  if (!bridge::Read10Handle(volume, buffer.data(), sector, blockLength, blockLength)) return 0;
  std::memcpy(buffer.data(), entry, sizeof(entry));
  return bridge::Write10Handle(volume, buffer.data(), sector, blockLength, blockLength) ? 1 : 0;
}

int FormatFat32(char driveLetter, const Fat32FormatRequest& request, int quick) {
  const uint32_t volumeId = MakeVolumeId();
  platform::DebugTrace(
      "Warning ALL data on drive '%c' will be lost irretrievably, are you sure\n(y/n) :",
      driveLetter);

  VolumeHandle volume(OpenVolume(driveLetter));
  if (volume.get() == platform::kInvalidHandle) return 0;
  const platform::Handle handle = volume.get();

  platform::DiskGeometry geometry = {};
  alignas(platform::PartitionInformationEx) uint8_t partitionBytes[144] = {};
  auto& partition = *reinterpret_cast<platform::PartitionInformationEx*>(partitionBytes);
  if (!Control(handle, platform::kFsctlLockVolume, nullptr, 0, nullptr, 0,
               "Failed to lock device while formating FAT32") ||
      !Control(handle, platform::kIoctlDiskGetDriveGeometry, nullptr, 0, &geometry,
               sizeof(geometry), "Failed to get device geometry") ||
      !Control(handle, platform::kIoctlDiskGetPartitionInfoEx, nullptr, 0, partitionBytes,
               sizeof(partitionBytes), "Failed to get parition info")) {
    return 0;
  }

  const uint32_t bps = geometry.BytesPerSector;
  if (bps == 0) {
    platform::MessageBox("qTotalSectors", "Error", platform::kMbOk);
    return 0;
  }
  const uint64_t partitionLength = static_cast<uint64_t>(std::max<int64_t>(partition.PartitionLength, 0));
  const uint64_t totalSectors = partitionLength / bps;
  if (totalSectors < kFat32MinSectors) {
    platform::DebugTrace("This drive is too small for FAT32 - there must be at least 64K clusters\n");
    return 0;
  }
  if (totalSectors >= kFat32MaxSectors) {
    platform::DebugTrace("This drive is too big for FAT32 - max 2TB supported\n");
    return 0;
  }

  if (!quick) {
    // The verification never fails the format.
    for (uint64_t done = 0; done < partitionLength;) {
      const uint32_t piece =
          static_cast<uint32_t>(std::min<uint64_t>(kVerifyPieceBytes, partitionLength - done));
      (void)VerifyRange(handle, partition.StartingOffset + static_cast<int64_t>(done), piece,
                  kVerifyPieceBytes);
      done += piece;
    }
  }

  platform::HeapBuffer bootSector(bps, platform::kPageSize);
  platform::HeapBuffer fsInfo(bps, platform::kPageSize);
  platform::HeapBuffer fatSector(bps, platform::kPageSize);
  if (!bootSector.valid() || !fsInfo.valid() || !fatSector.valid()) {
    platform::DebugTrace("Failed to allocate memory");
    return 0;
  }

  Fat32Layout layout;
  layout.bytesPerSector = bps;
  layout.sectorsPerCluster = ChooseSectorsPerCluster(request.clusterSizeBytes, partitionLength, bps);
  if (layout.sectorsPerCluster == 0) return 0;
  layout.hiddenSectors =
      partition.PartitionStyle == platform::kPartitionStyleMbr
          ? partition.Mbr.HiddenSectors
          : static_cast<uint32_t>(static_cast<uint64_t>(partition.StartingOffset) / bps);
  layout.sectorsPerTrack = static_cast<uint16_t>(geometry.SectorsPerTrack);
  layout.heads = static_cast<uint16_t>(geometry.TracksPerCylinder);
  layout.volumeId = volumeId;
  Fat32LabelField(request.label, layout.label);

  const Fat32PlanResult plan = PlanFat32Volume(totalSectors, &layout);
  if (plan == Fat32PlanResult::ZeroDivisor) return 0;

  platform::DebugTrace("Size : %gGB %u sectors\n", static_cast<double>(partitionLength) / 1e9,
                       layout.totalSectors);
  platform::DebugTrace("%u Bytes Per Sector, Cluster size %u bytes\n", bps,
                       layout.sectorsPerCluster * bps);
  platform::DebugTrace("Volume ID is %x:%x\n", volumeId >> 16, volumeId & 0xFFFF);
  platform::DebugTrace("%u Reserved Sectors, %u Sectors per FAT, %u fats\n",
                       kFat32ReservedSectors, layout.fatSizeSectors, kFat32NumberOfFats);
  switch (plan) {
    case Fat32PlanResult::TooSmallForClusters:
      platform::DebugTrace(
          "This drive is too small for FAT32 - there must be at least 64K clusters\n");
      return 0;
    case Fat32PlanResult::TooManyClusters:
      platform::DebugTrace(
          "This drive has more than 2^28 clusters, try to specify a larger cluster size\n");
      return 0;
    case Fat32PlanResult::FatTooSmall:
      platform::DebugTrace(
          "This drive is too big for this version of fat32format, check for an upgrade\n");
      return 0;
    default:
      break;
  }
  platform::DebugTrace("%u Total clusters\n", layout.clusterCount);
  platform::DebugTrace("%u Free Clusters\n", layout.clusterCount - 1);

  BuildFat32BootSector(layout, bootSector.data());
  BuildFat32FsInfo(layout, fsInfo.data());
  BuildFirstFatSector(bps, fatSector.data());

  platform::DebugTrace("Formatting drive %c:...\n", driveLetter);
  platform::DebugTrace("Clearing out %u sectors for Reserved sectors, fats and root cluster...\n",
                       layout.systemAreaSectors());
  if (!zero_sectors(handle, 0, bps, layout.systemAreaSectors())) return 0;

  platform::DebugTrace("Initialising reserved sectors and FATs...\n");
  if (!write_sect(handle, 0, bps, bootSector.data(), 1) ||
      !write_sect(handle, kFat32BackupBootSector, bps, bootSector.data(), 1) ||
      !write_sect(handle, kFat32FsInfoSector, bps, fsInfo.data(), 1) ||
      !write_sect(handle, kFat32BackupBootSector + 1, bps, fsInfo.data(), 1) ||
      !write_sect(handle, layout.fatSector(0), bps, fatSector.data(), 1) ||
      !write_sect(handle, layout.fatSector(1), bps, fatSector.data(), 1)) {
    return 0;
  }

  if (partition.PartitionStyle == platform::kPartitionStyleMbr) {
    platform::SetPartitionInformationEx set = {};
    set.PartitionStyle = platform::kPartitionStyleMbr;
    set.MbrPartitionType = platform::kPartitionFat32Xint13;
    if (!Control(handle, platform::kIoctlDiskSetPartitionInfoEx, &set, sizeof(set), nullptr, 0,
                 "Failed to set parition info")) {
      return 0;
    }
  }

  // Its outcome does not change the result.
  (void)WriteFat32LabelEntry(handle, request.label,
                       static_cast<uint64_t>(partition.StartingOffset) / bps +
                           layout.rootDirSector());

  if (!Control(handle, platform::kFsctlDismountVolume, nullptr, 0, nullptr, 0,
               "Failed to dismount device")) {
    return 0;
  }
  Control(handle, platform::kFsctlUnlockVolume, nullptr, 0, nullptr, 0, "Failed to unlock device");
  platform::DebugTrace("Done");
  return 1;
}

}  // namespace disk
