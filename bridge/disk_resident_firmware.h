// Bridges that keep firmware or configuration in a reserved area at the end
// of the attached disk (ChipType 7 always, ChipType 8 without a
// configuration EEPROM): the disk's geometry from IDENTIFY, where the area
// lies, and the 64 KB firmware area and the configuration sector written
// there with READ/WRITE DMA EXT through SAT. All LBAs are 64-bit; an address
// that would fall below 0 or past 48 bits is refused.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bridge/loaded_image.h"

namespace bridge {

inline constexpr const char* kQvb639FirmwareName = "QVB639FW";
inline constexpr uint32_t kQvb639FirmwareSize = 0x8000;
inline constexpr uint32_t kDiskFirmwareAreaSize = 0x10000;
inline constexpr size_t kAreaMarkerOffset = 150;  // 0x55, area LBA (4, big-endian), 0xAA
inline constexpr uint32_t kDefaultSectorSize = 512;
inline constexpr uint32_t kMaxSectorSize = 65536;

// QVB639FW from `offset` (length 0 or past the end: to the end) into
// buffer + offset, never past bufferSize. The resource size, 0 when it is
// missing or the offset lies past it.
[[nodiscard]] size_t LoadFirmwareResource(uint8_t* buffer, size_t bufferSize, uint32_t offset,
                                          uint32_t length);

// IDENTIFY DEVICE through SAT ATA PASS-THROUGH(12), 512 bytes.
[[nodiscard]] int ReadIdentifyData(const char* devicePath, uint8_t* buffer);
// Words 60-61, or words 100-103 when those read 0x0FFFFFFF.
[[nodiscard]] uint64_t IdentifySectorCount(const uint8_t* identify);
// 2 x words 117-118 only when word 106 is valid (bit 14 set, bit 15 clear)
// and says so (bit 12), and the size is a power of two from 512 to 65536;
// else 512.
[[nodiscard]] uint32_t IdentifySectorSize(const uint8_t* identify);
[[nodiscard]] uint64_t ReadDiskSectorCount(const char* devicePath);  // 0 when IDENTIFY fails
[[nodiscard]] uint32_t ReadDiskSectorSize(const char* devicePath);   // 512 when IDENTIFY fails

// Byte 17 (area flag) and byte 16 (ChipType 7 firmware on the disk) of the
// 18-byte FF 04 A0 block.
inline constexpr uint32_t kAreaBlockSize = 18;
[[nodiscard]] int ReadDiskAreaFlag(const char* devicePath);
[[nodiscard]] int HasDiskFirmwareSignature(const char* devicePath, unsigned chipType);

// The area LBA: from the marker beyond the disk's last sector when the bridge
// has the signature, else the end of the disk.
[[nodiscard]] uint64_t LocateDiskFirmwareArea(const char* devicePath, uint32_t sectorSize,
                                              unsigned chipType);
// Where the 64 KB firmware area starts for the area LBA; false when that
// would lie below 0 or past 48 bits.
[[nodiscard]] bool DiskFirmwareStartLba(uint64_t areaLba, bool areaFlag, uint32_t sectorSize,
                                        uint64_t* start);

// The 64 KB firmware area: QVB639FW, or the FirmwareImage (1 byte to 64 KB).
[[nodiscard]] int UpdateFirmwareQVB639(const char* devicePath, unsigned chipType);
[[nodiscard]] int UpdateDiskFirmwareType7(const char* devicePath, unsigned chipType,
                                          const LoadedImage& image);

// The configuration sector (config128, byte 124 with bit 0x20 set) at the
// area LBA; 1 when it reads back as written.
inline constexpr size_t kDiskConfigSize = 128;
inline constexpr size_t kDiskConfigFlagByte = 124;
// The sector image for `sectorSize` (its first 512 bytes repeated at 512 for
// 1 KB sectors and at 3584 for 4 KB sectors) into sector[0..sectorSize).
void BuildDiskConfigSector(uint8_t* sector, uint32_t sectorSize, const uint8_t* config128);
[[nodiscard]] int UpdateDiskFirmware(const char* devicePath, const uint8_t* config128,
                                     size_t configLength, unsigned chipType);

// 1 when the configuration EEPROM takes and returns AA 55 and 55 AA at bytes
// 120..121; its first 128 bytes are put back in every case.
[[nodiscard]] int TestConfigEeprom(const char* devicePath);

}  // namespace bridge
