// READ/WRITE(10), READ CAPACITY, and the capacity, free space and file
// system of the drive behind a bridge.
#include "bridge/block_commands.h"

#include <cstdio>
#include <cstring>

#include "bridge/cdb.h"
#include "bridge/disk_resident_firmware.h"
#include "bridge/storage_device.h"
#include "bridge/storage_enumeration.h"
#include "bridge/vendor_commands.h"
#include "platform/volumes.h"

namespace bridge {
namespace {

using cdb::Cdb10;
using cdb::Cdb12;
using cdb::Cdb16;
using cdb::Fits;
using cdb::PutBigEndian;

constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr Cdb12 kReadCapacity10 = {0x25};
constexpr uint32_t kReadCapacity10Length = 8;
constexpr uint8_t kServiceActionIn16 = 0x9E;
constexpr uint8_t kReadCapacity16Action = 0x10;
constexpr uint32_t kReadCapacity16Length = 16;
constexpr Cdb10 kFormatUnit = {0x04};  // no parameter list: the device's own defaults
// MODE SENSE(10) of all pages; the header's device-specific byte carries WP.
constexpr uint8_t kModeSense10 = 0x5A;
constexpr uint8_t kAllPages = 0x3F;
constexpr uint32_t kModeHeader10Length = 8;
constexpr uint8_t kWriteProtectBit = 0x80;

// IDENTIFY DEVICE words, as byte offsets.
constexpr size_t kLba28Sectors = 120;        // words 60-61
constexpr size_t kLba48Sectors = 200;        // words 100-103, 40 bits used
constexpr uint32_t kLba28Saturated = 0x0FFFFFFF;
constexpr uint64_t kSectorsPerMB = 2048;  // of 512 bytes
constexpr uint32_t kSectorBytes = 512;

uint32_t LittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint64_t BigEndian(const uint8_t* bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

// Builds the READ/WRITE(10) CDB; false when the request cannot be expressed
// without cutting a field.
bool BlockCdb(uint8_t opcode, uint64_t lba, uint32_t bytes, uint32_t blockSize, Cdb10* out) {
  if (blockSize == 0 || bytes % blockSize != 0 || !Fits(lba, 32)) return false;
  const uint32_t blocks = bytes / blockSize;
  if (!Fits(blocks, 16)) return false;
  Cdb10 cdb = {opcode};
  PutBigEndian(cdb, 2, lba, 4);
  PutBigEndian(cdb, 7, blocks, 2);
  *out = cdb;
  return true;
}

uint32_t BlockLengthOf(const uint8_t (&reply)[kReadCapacity10Length]) {
  const auto length = static_cast<uint32_t>(BigEndian(reply + 4, 4));
  return length != 0 ? length : kDefaultBlockLength;
}

}  // namespace

int Read10Handle(platform::Handle device, uint8_t* buffer, uint64_t lba, uint32_t bytes,
                 uint32_t blockSize) {
  Cdb10 cdb;
  if (!BlockCdb(kRead10, lba, bytes, blockSize, &cdb)) return 0;
  uint32_t moved = 0;
  return ScsiPassThroughInHandle(device, cdb.data(), cdb.size(), buffer, bytes, &moved);
}

int Write10Handle(platform::Handle device, const uint8_t* data, uint64_t lba, uint32_t bytes,
                  uint32_t blockSize) {
  Cdb10 cdb;
  if (!BlockCdb(kWrite10, lba, bytes, blockSize, &cdb)) return 0;
  uint32_t moved = 0;
  return ScsiPassThroughOutHandle(device, cdb.data(), cdb.size(), data, bytes, &moved);
}

uint32_t ReadCapacity10(const char* devicePath) {
  uint8_t reply[kReadCapacity10Length] = {};
  if (!cdb::SendIn(devicePath, kReadCapacity10, reply, sizeof(reply))) return kDefaultBlockLength;
  return BlockLengthOf(reply);
}

uint32_t ReadCapacity10Handle(platform::Handle device) {
  uint8_t reply[kReadCapacity10Length] = {};
  uint32_t moved = 0;
  if (!ScsiPassThroughInHandle(device, kReadCapacity10.data(), kReadCapacity10.size(), reply,
                               sizeof(reply), &moved)) {
    return kDefaultBlockLength;
  }
  return BlockLengthOf(reply);
}

int ReadCapacity16Data(const char* devicePath, uint8_t* buffer, uint32_t length) {
  if (!Fits(length, 8)) return 0;
  Cdb16 cdb = {kServiceActionIn16, kReadCapacity16Action};
  cdb[13] = static_cast<uint8_t>(length);
  return cdb::SendIn(devicePath, cdb, buffer, length);
}

uint64_t ReadCapacity16(const char* devicePath) {
  uint8_t reply[kReadCapacity16Length] = {};
  if (!ReadCapacity16Data(devicePath, reply, sizeof(reply))) return 0;
  return BigEndian(reply, 8);
}

int FormatUnit(const char* devicePath) { return cdb::SendNoData(devicePath, kFormatUnit); }

int ReadWriteProtect(const char* devicePath, bool* writeProtected) {
  if (writeProtected == nullptr) return 0;
  Cdb10 cdb = {kModeSense10, 0x08, kAllPages};  // DBD: no block descriptors
  PutBigEndian(cdb, 7, kModeHeader10Length, 2);
  uint8_t header[kModeHeader10Length] = {};
  if (!cdb::SendIn(devicePath, cdb, header, sizeof(header))) return 0;
  *writeProtected = (header[3] & kWriteProtectBit) != 0;
  return 1;
}

uint64_t CapacityMBFromIdentify(const uint8_t* identify) {
  uint64_t sectors = LittleEndian32(identify + kLba28Sectors);
  if (sectors == kLba28Saturated) {
    sectors = 0;
    for (size_t i = 5; i-- > 0;) sectors = sectors << 8 | identify[kLba48Sectors + i];
  }
  // The same logical sector size as the disk-resident firmware area uses.
  return (sectors / kSectorsPerMB) * (IdentifySectorSize(identify) / kSectorBytes);
}

uint64_t GetDiskCapacityMB(const char* devicePath, ChipType chipType) {
  uint8_t identify[kIdentifyDataSize] = {};
  if (!IdentifyDevice(devicePath, identify, UsesSatIdentify(chipType) ? 1 : 0)) {
    return GetDiskSizeMB(devicePath);
  }
  return CapacityMBFromIdentify(identify);
}

uint64_t GetDriveFreeSpace(const char* devicePath) {
  char letters[kDriveLetterCount + 1] = {};
  const int count = FindDriveLetters(devicePath, letters);
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    const char root[] = {letters[i], ':', '\0'};
    uint64_t available = 0;
    if (platform::GetDiskFreeSpaceEx(root, &available, nullptr, nullptr)) total += available;
  }
  return total;
}

uint32_t GetVolumeFileSystem(char driveLetter, char* label, int* kind) {
  if (label != nullptr) label[0] = '\0';
  if (kind != nullptr) *kind = kFileSystemOther;

  const char root[] = {driveLetter, ':', '\\', '\0'};
  char volumeLabel[kVolumeLabelSize] = {};
  char fileSystem[kVolumeLabelSize] = {};
  // The result is this query's own code, never one left by an earlier call.
  platform::SetLastError(platform::kErrorSuccess);
  if (!platform::GetVolumeInformation(root, volumeLabel, sizeof(volumeLabel), nullptr, nullptr,
                                      nullptr, fileSystem, sizeof(fileSystem))) {
    const uint32_t error = platform::GetLastError();
    return error != platform::kErrorSuccess ? error : platform::kErrorGenFailure;
  }
  volumeLabel[kVolumeLabelSize - 1] = '\0';
  fileSystem[kVolumeLabelSize - 1] = '\0';
  if (label != nullptr) std::memcpy(label, volumeLabel, kVolumeLabelSize);
  if (kind != nullptr) {
    if (std::strstr(fileSystem, "FAT32") != nullptr) {
      *kind = kFileSystemFat32;
    } else if (std::strstr(fileSystem, "NTFS") != nullptr) {
      *kind = kFileSystemNtfs;
    }
  }
  return platform::kErrorSuccess;
}

}  // namespace bridge
