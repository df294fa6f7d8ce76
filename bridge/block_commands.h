// Standard SCSI block and capacity commands on the disk behind a bridge, and
// the capacity, free space and file system of the attached drive.
#pragma once

#include <cstdint>

#include "bridge/chip_identification.h"
#include "platform/device_io.h"

namespace bridge {

// READ(10) / WRITE(10) of `bytes` bytes from or to `lba` on an open handle,
// in blocks of `blockSize` bytes. Refused with 0, before anything is sent,
// when the block size is 0, `bytes` is not a whole number of blocks, the LBA
// does not fit 32 bits or the block count does not fit 16 bits.
[[nodiscard]] int Read10Handle(platform::Handle device, uint8_t* buffer, uint64_t lba,
                               uint32_t bytes, uint32_t blockSize);
[[nodiscard]] int Write10Handle(platform::Handle device, const uint8_t* data, uint64_t lba,
                                uint32_t bytes, uint32_t blockSize);

// The block length READ CAPACITY(10) reports; 512 when the command fails or
// reports a length of 0, so a caller can always divide by it.
inline constexpr uint32_t kDefaultBlockLength = 512;
[[nodiscard]] uint32_t ReadCapacity10(const char* devicePath);
[[nodiscard]] uint32_t ReadCapacity10Handle(platform::Handle device);

// READ CAPACITY(16) into `buffer`: `length` bytes, at most 255 (the
// allocation length travels in one CDB byte).
[[nodiscard]] int ReadCapacity16Data(const char* devicePath, uint8_t* buffer, uint32_t length);
// The last LBA READ CAPACITY(16) reports; 0 when the command fails.
[[nodiscard]] uint64_t ReadCapacity16(const char* devicePath);

// FORMAT UNIT with the device's own defaults (no parameter list).
[[nodiscard]] int FormatUnit(const char* devicePath);

// Whether the medium is write-protected: the WP bit of the MODE SENSE(10)
// header. 1 and *writeProtected when the command answered.
[[nodiscard]] int ReadWriteProtect(const char* devicePath, bool* writeProtected);

// Capacity of the drive in MB (2^20 bytes) from its IDENTIFY data, or from
// the disk geometry when the drive does not answer IDENTIFY.
[[nodiscard]] uint64_t GetDiskCapacityMB(const char* devicePath, ChipType chipType);
// What GetDiskCapacityMB makes of 512 bytes of IDENTIFY data.
[[nodiscard]] uint64_t CapacityMBFromIdentify(const uint8_t* identify);

// Free bytes available to the caller, summed over every drive letter of the
// device; letters whose query fails add nothing.
[[nodiscard]] uint64_t GetDriveFreeSpace(const char* devicePath);

inline constexpr uint32_t kVolumeLabelSize = 256;  // 255 characters and the NUL
inline constexpr int kFileSystemNtfs = 0;
inline constexpr int kFileSystemFat32 = 1;
inline constexpr int kFileSystemOther = -1;

// Volume label and file-system kind of "X:\". Returns the last-error code of
// this query (0 on success); on failure the label is empty and the kind is
// kFileSystemOther. `label` (may be null) holds kVolumeLabelSize bytes.
[[nodiscard]] uint32_t GetVolumeFileSystem(char driveLetter, char* label, int* kind);

}  // namespace bridge
