// Disk and volume control requests and the records they carry. The records
// keep the system's byte layout (natural alignment, which matches it on
// every target we build), so buffers sized by the system's numbers (the
// 768-byte extended layout, the 168-byte legacy layout with five entries,
// the 144-byte partition record) hold exactly what they should.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// ---- Control codes.
inline constexpr uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;
inline constexpr uint32_t kIoctlDiskGetPartitionInfo = 0x00074004;
inline constexpr uint32_t kIoctlDiskSetPartitionInfo = 0x0007C008;
inline constexpr uint32_t kIoctlDiskGetDriveLayout = 0x0007400C;
inline constexpr uint32_t kIoctlDiskSetDriveLayout = 0x0007C010;
inline constexpr uint32_t kIoctlDiskVerify = 0x00070014;
inline constexpr uint32_t kIoctlDiskGetPartitionInfoEx = 0x00070048;
inline constexpr uint32_t kIoctlDiskSetPartitionInfoEx = 0x0007C04C;
inline constexpr uint32_t kIoctlDiskGetDriveLayoutEx = 0x00070050;
inline constexpr uint32_t kIoctlDiskSetDriveLayoutEx = 0x0007C054;
inline constexpr uint32_t kIoctlDiskCreateDisk = 0x0007C058;
inline constexpr uint32_t kIoctlDiskGetLengthInfo = 0x0007405C;
inline constexpr uint32_t kIoctlDiskUpdateProperties = 0x00070140;
inline constexpr uint32_t kFsctlLockVolume = 0x00090018;
inline constexpr uint32_t kFsctlUnlockVolume = 0x0009001C;
inline constexpr uint32_t kFsctlDismountVolume = 0x00090020;

// Last-error codes of these requests.
inline constexpr uint32_t kErrorInvalidFunction = 1;  // request not meant for this handle
inline constexpr uint32_t kErrorNotReady = 21;
inline constexpr uint32_t kErrorWriteFault = 29;
inline constexpr uint32_t kErrorReadFault = 30;
inline constexpr uint32_t kErrorNotLocked = 158;
inline constexpr uint32_t kErrorCrc = 23;            // a failed verify

// ---- Geometry.
inline constexpr uint32_t kMediaFixed = 12;
inline constexpr uint32_t kMediaRemovable = 11;

struct DiskGeometry {
  int64_t Cylinders;
  uint32_t MediaType;
  uint32_t TracksPerCylinder;
  uint32_t SectorsPerTrack;
  uint32_t BytesPerSector;
};
static_assert(sizeof(DiskGeometry) == 24);

struct GetLengthInformation {
  int64_t Length;
};

// ---- Partition styles and MBR partition types.
inline constexpr uint32_t kPartitionStyleMbr = 0;
inline constexpr uint32_t kPartitionStyleGpt = 1;
inline constexpr uint32_t kPartitionStyleRaw = 2;

inline constexpr uint8_t kPartitionEntryUnused = 0x00;
inline constexpr uint8_t kPartitionIfs = 0x07;         // NTFS, exFAT
inline constexpr uint8_t kPartitionFat32 = 0x0B;
inline constexpr uint8_t kPartitionFat32Xint13 = 0x0C;

// ---- The legacy forms (IOCTL_DISK_GET/SET_DRIVE_LAYOUT, GET/SET_PARTITION_INFO).
struct PartitionInformation {
  int64_t StartingOffset;
  int64_t PartitionLength;
  uint32_t HiddenSectors;
  uint32_t PartitionNumber;
  uint8_t PartitionType;
  uint8_t BootIndicator;
  uint8_t RecognizedPartition;
  uint8_t RewritePartition;
  uint32_t reserved;  // the system's padding
};
static_assert(sizeof(PartitionInformation) == 32);

struct DriveLayoutInformation {
  uint32_t PartitionCount;
  uint32_t Signature;
  PartitionInformation PartitionEntry[1];  // PartitionCount of them
};
static_assert(offsetof(DriveLayoutInformation, PartitionEntry) == 8);
// Bytes of a legacy layout with n entries: 168 for five.
constexpr uint32_t DriveLayoutBytes(uint32_t n) { return 8 + 32 * n; }

struct SetPartitionInformation {
  uint8_t PartitionType;
};

// ---- The extended forms.
struct PartitionInformationMbr {
  uint8_t PartitionType;
  uint8_t BootIndicator;
  uint8_t RecognizedPartition;
  uint8_t reserved0;
  uint32_t HiddenSectors;
};

struct PartitionInformationGpt {
  uint8_t PartitionType[16];  // GUIDs as their 16 bytes
  uint8_t PartitionId[16];
  uint64_t Attributes;
  char16_t Name[36];
};
static_assert(sizeof(PartitionInformationGpt) == 112);

struct PartitionInformationEx {
  uint32_t PartitionStyle;
  uint32_t reserved0;
  int64_t StartingOffset;
  int64_t PartitionLength;
  uint32_t PartitionNumber;
  uint8_t RewritePartition;
  uint8_t IsServicePartition;
  uint8_t reserved1[2];
  union {
    PartitionInformationMbr Mbr;
    PartitionInformationGpt Gpt;
  };
};
static_assert(sizeof(PartitionInformationEx) == 144);
static_assert(offsetof(PartitionInformationEx, Mbr) == 32);

struct DriveLayoutInformationMbr {
  uint32_t Signature;
  uint32_t CheckSum;
};

struct DriveLayoutInformationGpt {
  uint8_t DiskId[16];
  int64_t StartingUsableOffset;
  int64_t UsableLength;
  uint32_t MaxPartitionCount;
  uint32_t reserved;
};
static_assert(sizeof(DriveLayoutInformationGpt) == 40);

struct DriveLayoutInformationEx {
  uint32_t PartitionStyle;
  uint32_t PartitionCount;
  union {
    DriveLayoutInformationMbr Mbr;
    DriveLayoutInformationGpt Gpt;
  };
  PartitionInformationEx PartitionEntry[1];  // PartitionCount of them
};
static_assert(offsetof(DriveLayoutInformationEx, PartitionEntry) == 48);
// Bytes of an extended layout with n entries: 768 for five.
constexpr uint32_t DriveLayoutExBytes(uint32_t n) { return 48 + 144 * n; }
// An MBR disk always reports four entries (its table's slots), used or not.
inline constexpr uint32_t kMbrLayoutEntries = 4;

struct SetPartitionInformationEx {
  uint32_t PartitionStyle;
  uint32_t reserved;
  union {
    uint8_t MbrPartitionType;  // SET_PARTITION_INFORMATION_MBR
    PartitionInformationGpt Gpt;
  };
};
static_assert(sizeof(SetPartitionInformationEx) == 120);

struct CreateDiskGpt {
  uint8_t DiskId[16];
  uint32_t MaxPartitionCount;
};

struct CreateDisk {
  uint32_t PartitionStyle;
  union {
    uint32_t MbrSignature;  // CREATE_DISK_MBR
    CreateDiskGpt Gpt;
  };
};
static_assert(sizeof(CreateDisk) == 24);

struct VerifyInformation {
  int64_t StartingOffset;  // bytes from the start of the disk (or volume)
  uint32_t Length;         // bytes
  uint32_t reserved;
};
static_assert(sizeof(VerifyInformation) == 16);

}  // namespace platform
