// The disk behind a storage interface: its partition table, its drive
// letters and its size.
#include "disk/partition_layout.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

#include "bridge/scsi_pass_through.h"
#include "disk/mbr_template.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace disk {
namespace {

constexpr uint64_t kBytesPerMB = 0x100000;
constexpr uint32_t kWindowsFolderSize = 260;

// The system drive's letter, upper case; 0 when the folder is unknown.
char SystemDriveLetter() {
  char folder[kWindowsFolderSize] = {};
  const uint32_t length = platform::GetWindowsDirectory(folder, sizeof(folder));
  if (length == 0 || length >= sizeof(folder)) return '\0';
  return static_cast<char>(std::toupper(static_cast<unsigned char>(folder[0])));
}

// The device path of the system drive's volume ("\\.\C:").
bool SystemDriveNumber(platform::StorageDeviceNumber* number) {
  const char letter = SystemDriveLetter();
  if (letter == '\0') return false;
  const char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
  return bridge::GetStorageDeviceNumber(path, number) != 0;
}

// The disk that holds the system's own folder is never laid out.
bool IsSystemDisk(const char* devicePath) {
  platform::StorageDeviceNumber system = {};
  platform::StorageDeviceNumber own = {};
  if (!SystemDriveNumber(&system) || !bridge::GetStorageDeviceNumber(devicePath, &own)) {
    return false;
  }
  return system.DeviceType == own.DeviceType && system.DeviceNumber == own.DeviceNumber;
}

bool ReadGeometry(platform::Handle device, DiskGeometry* geometry) {
  uint32_t returned = 0;
  return platform::DeviceIoControl(device, kIoctlDiskGetDriveGeometry, nullptr, 0, geometry,
                                   sizeof(*geometry), &returned) &&
         returned >= sizeof(*geometry);
}

// One whole sector at a disk-absolute byte offset.
bool WriteSectorAt(platform::Handle device, uint64_t offset, const uint8_t* sector,
                   uint32_t bytes) {
  uint32_t written = 0;
  return platform::SetFilePointerEx(device, static_cast<int64_t>(offset), nullptr,
                                    platform::kFileBegin) &&
         platform::WriteFile(device, sector, bytes, &written) && written == bytes;
}

// An opened disk with its geometry and byte size, refused when it is the
// system's own or too small for the partition's start.
struct LayoutTarget {
  explicit LayoutTarget(const char* devicePath)
      : device(devicePath, platform::kAccessRead | platform::kAccessWrite,
               platform::kShareRead | platform::kShareWrite) {
    ok = device.valid() && ReadGeometry(device.get(), &geometry) && geometry.BytesPerSector != 0 &&
         GeometryBytes(geometry, &bytes) &&
         bytes / geometry.BytesPerSector >= kPartitionStartSector;
  }
  platform::ScopedDevice device;
  DiskGeometry geometry = {};
  uint64_t bytes = 0;
  bool ok = false;
};

}  // namespace

bool GeometryBytes(const DiskGeometry& geometry, uint64_t* bytes) {
  if (geometry.Cylinders < 0) return false;
  uint64_t product = static_cast<uint64_t>(geometry.Cylinders);
  for (const uint32_t factor :
       {geometry.TracksPerCylinder, geometry.SectorsPerTrack, geometry.BytesPerSector}) {
    if (__builtin_mul_overflow(product, uint64_t{factor}, &product)) return false;
  }
  *bytes = product;
  return true;
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
  if (IsSystemDisk(devicePath)) return 0;
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
  if (IsSystemDisk(devicePath)) return 0;
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

int FindDriveLetters(const char* devicePath, char* letters) {
  letters[0] = '\0';
  platform::StorageDeviceNumber own = {};
  if (!bridge::GetStorageDeviceNumber(devicePath, &own)) return 0;

  const uint32_t drives = platform::GetLogicalDrives();
  const char systemDrive = SystemDriveLetter();
  int count = 0;
  for (int i = 0; i < kDriveLetterCount; ++i) {
    const char letter = static_cast<char>('A' + i);
    if ((drives & (1u << i)) == 0 || letter == systemDrive) continue;
    const char drivePath[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    platform::StorageDeviceNumber number = {};
    if (!bridge::GetStorageDeviceNumber(drivePath, &number)) continue;
    if (number.DeviceType == own.DeviceType && number.DeviceNumber == own.DeviceNumber) {
      letters[count++] = letter;
    }
  }
  letters[count] = '\0';
  return count;
}

int FindDriveLetter(const char* devicePath, char* driveLetter) {
  char letters[kDriveLetterCount + 1];
  if (FindDriveLetters(devicePath, letters) == 0) return 0;
  *driveLetter = letters[0];
  return 1;
}

uint32_t GetDiskSizeMB(const char* devicePath) {
  platform::ScopedDevice device(devicePath, platform::kAccessNone,
                                platform::kShareRead | platform::kShareWrite);
  if (!device.valid()) return 0;
  DiskGeometry geometry = {};
  uint32_t returned = 0;
  if (!platform::DeviceIoControl(device.get(), kIoctlDiskGetDriveGeometry, nullptr, 0, &geometry,
                                 sizeof(geometry), &returned) ||
      returned < sizeof(geometry) || geometry.Cylinders < 0) {
    return 0;
  }
  // A product of the four fields beyond 64 bits is no disk; read as unknown.
  uint64_t bytes = static_cast<uint64_t>(geometry.Cylinders);
  for (const uint32_t factor :
       {geometry.TracksPerCylinder, geometry.SectorsPerTrack, geometry.BytesPerSector}) {
    if (__builtin_mul_overflow(bytes, uint64_t{factor}, &bytes)) return 0;
  }
  const uint64_t megabytes = bytes / kBytesPerMB;
  return megabytes > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                          : static_cast<uint32_t>(megabytes);
}

}  // namespace disk
