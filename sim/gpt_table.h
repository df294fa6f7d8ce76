// A GPT as a disk holds it, read the way the system reads it: the primary
// header at LBA 1 and its array, or the backup at the last LBA when the
// primary is damaged; each header checked by its signature, size, CRC and
// own LBA, each array by its CRC. Private to the bench.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct GptPartition {
  std::array<uint8_t, 16> type{};
  std::array<uint8_t, 16> id{};
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t attributes = 0;
  std::u16string name;
};

struct GptTable {
  std::array<uint8_t, 16> diskId{};
  uint64_t firstUsable = 0;
  uint64_t lastUsable = 0;
  uint32_t headerCrc = 0;
  uint32_t arrayCrc = 0;
  std::vector<GptPartition> partitions;  // used entries, in array order
};

// Reads `count` sectors from `lba`; false when they cannot be read.
using SectorReader = std::function<bool(uint64_t lba, uint64_t count, uint8_t* out)>;

// False when neither header (with its array) holds.
bool ParseGpt(const SectorReader& read, uint64_t sectors, uint32_t sectorSize, GptTable* out);

}  // namespace sim
