// A GPT partition table with one basic-data partition over the disk: the
// protective MBR, the primary header and partition array, and their backups
// at the end of the disk, written sector by sector to the disk itself.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace disk {

inline constexpr uint32_t kGptEntryCount = 128;
inline constexpr uint32_t kGptEntrySize = 128;
inline constexpr uint32_t kGptHeaderSize = 92;
// The partition starts on a 1 MiB boundary.
inline constexpr uint64_t kGptPartitionAlignment = 0x100000;
// {EBD0A0A2-B9E5-4433-87C0-68B6B72699C7} as stored (first three fields
// little-endian).
inline constexpr std::array<uint8_t, 16> kBasicDataPartitionType = {
    0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44, 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

// The sectors of a layout: `head` from LBA 0 (protective MBR, header,
// array), `tail` from `tailLba` (backup array, backup header).
struct GptSectors {
  std::vector<uint8_t> head;
  std::vector<uint8_t> tail;
  uint64_t tailLba = 0;
  uint64_t firstLba = 0;  // of the partition
  uint64_t lastLba = 0;
};

// False when the disk is too small for the tables and one aligned sector.
[[nodiscard]] bool BuildGptSectors(uint64_t sectors, uint32_t sectorSize, const std::array<uint8_t, 16>& diskId,
                     const std::array<uint8_t, 16>& partitionId, GptSectors* out);

// Lays out the disk of `devicePath` as GPT with fresh random ids, clears the
// old boot sector where the partition starts, and asks the system to read the
// new table. 1 when every write and request succeeded. The system's own disk
// is refused.
[[nodiscard]] int CreateGptLayout(const char* devicePath);

}  // namespace disk
