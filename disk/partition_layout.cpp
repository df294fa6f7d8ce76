// The disk behind a storage interface: its partition table.
#include "disk/partition_layout.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/mbr_template.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace disk {
namespace {

bool ReadGeometry(platform::Handle device, DiskGeometry* geometry) {
  uint32_t returned = 0;
  return platform::DeviceIoControl(device, kIoctlDiskGetDriveGeometry, nullptr, 0, geometry,
                                   sizeof(*geometry), &returned) &&
         returned >= sizeof(*geometry);
}

// An opened disk with its geometry and byte size, refused when it is the
// system's own or too small for the partition's start.
struct LayoutTarget {
  explicit LayoutTarget(const char* devicePath)
      : device(devicePath, platform::kAccessRead | platform::kAccessWrite,
               platform::kShareRead | platform::kShareWrite) {
    ok = device.valid() && ReadGeometry(device.get(), &geometry) && geometry.BytesPerSector != 0 &&
         bridge::GeometryBytes(geometry, &bytes) &&
         bytes / geometry.BytesPerSector >= kPartitionStartSector;
  }
  platform::ScopedDevice device;
  DiskGeometry geometry = {};
  uint64_t bytes = 0;
  bool ok = false;
};

}  // namespace

bool WriteSectorAt(platform::Handle device, uint64_t offset, const uint8_t* sector,
                   uint32_t bytes) {
  uint32_t written = 0;
  return platform::SetFilePointerEx(device, static_cast<int64_t>(offset), nullptr,
                                    platform::kFileBegin) &&
         platform::WriteFile(device, sector, bytes, &written) && written == bytes;
}

void FillLayoutEntry(const DiskGeometry& geometry, uint64_t diskBytes,
                     platform::PartitionInformation* entry) {
  const uint64_t start = uint64_t{kPartitionStartSector} * geometry.BytesPerSector;
  entry->StartingOffset = static_cast<int64_t>(start);
  entry->PartitionLength = static_cast<int64_t>(diskBytes - start);
  entry->HiddenSectors = 0;
  entry->PartitionNumber = 1;
  entry->PartitionType = platform::kPartitionIfs;
  entry->BootIndicator = 0;
  entry->RecognizedPartition = 1;
  entry->RewritePartition = 1;
}

void FillLayoutEntry(const DiskGeometry& geometry, uint64_t diskBytes,
                     platform::PartitionInformationEx* entry) {
  const uint64_t start = uint64_t{kPartitionStartSector} * geometry.BytesPerSector;
  entry->PartitionStyle = platform::kPartitionStyleMbr;
  entry->StartingOffset = static_cast<int64_t>(start);
  entry->PartitionLength = static_cast<int64_t>(diskBytes - start);
  entry->PartitionNumber = 1;
  entry->RewritePartition = 1;
  entry->Mbr.PartitionType = platform::kPartitionIfs;
  entry->Mbr.BootIndicator = 0;
  entry->Mbr.RecognizedPartition = 1;
  entry->Mbr.HiddenSectors = 0;
}

int CreateDiskLayout(const char* devicePath) {
  if (bridge::IsSystemDisk(devicePath)) return 0;
  LayoutTarget disk(devicePath);
  if (!disk.ok) return 0;
  const platform::Handle device = disk.device.get();
  const uint32_t bps = disk.geometry.BytesPerSector;

  // The old volume's boot sector, as one whole sector of the disk. Its
  // outcome does not stop the layout.
  const std::vector<uint8_t> zeros(bps, 0);
  for (int attempt = 0; attempt < kClearBootSectorTries; ++attempt) {
    if (WriteSectorAt(device, uint64_t{kPartitionStartSector} * bps, zeros.data(), bps)) break;
    platform::Sleep(kClearBootSectorRetryMs);
  }

  platform::CreateDisk create = {};
  create.PartitionStyle = platform::kPartitionStyleMbr;
  create.MbrSignature = 0;
  if (!platform::DeviceIoControl(device, platform::kIoctlDiskCreateDisk, &create, sizeof(create),
                                 nullptr, 0, nullptr)) {
    return 0;
  }

  alignas(platform::DriveLayoutInformationEx) uint8_t buffer[kExtendedLayoutBytes] = {};
  auto* layout = reinterpret_cast<platform::DriveLayoutInformationEx*>(buffer);
  if (!platform::DeviceIoControl(device, platform::kIoctlDiskGetDriveLayoutEx, nullptr, 0, buffer,
                                 sizeof(buffer), nullptr)) {
    return 0;
  }
  layout->PartitionStyle = platform::kPartitionStyleMbr;
  FillLayoutEntry(disk.geometry, disk.bytes, &layout->PartitionEntry[0]);
  if (!platform::DeviceIoControl(device, platform::kIoctlDiskSetDriveLayoutEx, buffer,
                                 sizeof(buffer), nullptr, 0, nullptr)) {
    return 0;
  }
  for (int i = 0; i < 2; ++i) {
    if (!platform::DeviceIoControl(device, platform::kIoctlDiskUpdateProperties, nullptr, 0,
                                   nullptr, 0, nullptr)) {
      return 0;
    }
  }
  return 1;
}

int WriteLegacyLayout(const char* devicePath) {
  if (bridge::IsSystemDisk(devicePath)) return 0;
  LayoutTarget disk(devicePath);
  if (!disk.ok) return 0;
  const platform::Handle device = disk.device.get();

  // The template fills the first 512 bytes of a whole sector.
  std::vector<uint8_t> sector(std::max<uint32_t>(disk.geometry.BytesPerSector, kMbrSize), 0);
  std::memcpy(sector.data(), kMbrTemplate.data(), kMbrSize);
  if (!WriteSectorAt(device, 0, sector.data(), static_cast<uint32_t>(sector.size()))) return 0;

  alignas(platform::DriveLayoutInformation) uint8_t buffer[kLegacyLayoutBytes] = {};
  auto* layout = reinterpret_cast<platform::DriveLayoutInformation*>(buffer);
  if (!platform::DeviceIoControl(device, platform::kIoctlDiskGetDriveLayout, nullptr, 0, buffer,
                                 sizeof(buffer), nullptr)) {
    return 0;
  }
  FillLayoutEntry(disk.geometry, disk.bytes, &layout->PartitionEntry[0]);
  return platform::DeviceIoControl(device, platform::kIoctlDiskSetDriveLayout, buffer,
                                   sizeof(buffer), nullptr, 0, nullptr)
             ? 1
             : 0;
}

}  // namespace disk
