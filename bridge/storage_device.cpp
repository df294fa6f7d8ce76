#include "bridge/storage_device.h"

#include <cctype>
#include <initializer_list>
#include <limits>

#include "bridge/scsi_pass_through.h"
#include "platform/device_io.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace bridge {
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

// The storage number of the volume "\\.\X:".
bool DriveNumber(char letter, platform::StorageDeviceNumber* number) {
  const char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
  return GetStorageDeviceNumber(path, number) != 0;
}

bool SameDisk(const platform::StorageDeviceNumber& a, const platform::StorageDeviceNumber& b) {
  return a.DeviceType == b.DeviceType && a.DeviceNumber == b.DeviceNumber;
}

}  // namespace

int FindDriveLetters(const char* devicePath, char* letters) {
  letters[0] = '\0';
  platform::StorageDeviceNumber own = {};
  if (!GetStorageDeviceNumber(devicePath, &own)) return 0;

  const uint32_t drives = platform::GetLogicalDrives();
  const char systemDrive = SystemDriveLetter();
  int count = 0;
  for (int i = 0; i < kDriveLetterCount; ++i) {
    const char letter = static_cast<char>('A' + i);
    if ((drives & (1u << i)) == 0 || letter == systemDrive) continue;
    platform::StorageDeviceNumber number = {};
    if (DriveNumber(letter, &number) && SameDisk(number, own)) letters[count++] = letter;
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

bool GeometryBytes(const platform::DiskGeometry& geometry, uint64_t* bytes) {
  if (geometry.Cylinders < 0) return false;
  uint64_t product = static_cast<uint64_t>(geometry.Cylinders);
  for (const uint32_t factor :
       {geometry.TracksPerCylinder, geometry.SectorsPerTrack, geometry.BytesPerSector}) {
    if (__builtin_mul_overflow(product, uint64_t{factor}, &product)) return false;
  }
  *bytes = product;
  return true;
}

uint32_t GetDiskSizeMB(const char* devicePath) {
  platform::ScopedDevice device(devicePath, platform::kAccessNone,
                                platform::kShareRead | platform::kShareWrite);
  if (!device.valid()) return 0;
  platform::DiskGeometry geometry = {};
  uint32_t returned = 0;
  uint64_t bytes = 0;
  // A product of the four fields beyond 64 bits is no disk; read as unknown.
  if (!platform::DeviceIoControl(device.get(), platform::kIoctlDiskGetDriveGeometry, nullptr, 0,
                                 &geometry, sizeof(geometry), &returned) ||
      returned < sizeof(geometry) || !GeometryBytes(geometry, &bytes)) {
    return 0;
  }
  const uint64_t megabytes = bytes / kBytesPerMB;
  return megabytes > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                          : static_cast<uint32_t>(megabytes);
}

bool IsSystemDisk(const char* devicePath) {
  const char letter = SystemDriveLetter();
  platform::StorageDeviceNumber system = {};
  platform::StorageDeviceNumber own = {};
  return letter != '\0' && DriveNumber(letter, &system) &&
         GetStorageDeviceNumber(devicePath, &own) && SameDisk(system, own);
}

}  // namespace bridge
