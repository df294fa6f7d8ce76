#include "sim/gpt_table.h"

#include <cstring>

#include "platform/byte_order.h"
#include "platform/crc32.h"

namespace sim {
namespace {

using platform::GetLittleEndian16;
using platform::GetLittleEndian32;
using platform::GetLittleEndian64;

constexpr char kSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr uint32_t kMinHeaderSize = 92;
constexpr uint32_t kMaxEntries = 1024;

bool ParseAt(const SectorReader& read, uint64_t sectors, uint32_t sectorSize, uint64_t headerLba,
             GptTable* out) {
  std::vector<uint8_t> header(sectorSize);
  if (!read(headerLba, 1, header.data())) return false;
  if (std::memcmp(header.data(), kSignature, sizeof kSignature) != 0) return false;
  const uint32_t headerSize = GetLittleEndian32(&header[12]);
  if (headerSize < kMinHeaderSize || headerSize > sectorSize) return false;
  const uint32_t headerCrc = GetLittleEndian32(&header[16]);
  std::memset(&header[16], 0, 4);
  if (platform::Crc32(header.data(), headerSize) != headerCrc) return false;
  if (GetLittleEndian64(&header[24]) != headerLba) return false;

  GptTable table;
  table.headerCrc = headerCrc;
  table.firstUsable = GetLittleEndian64(&header[40]);
  table.lastUsable = GetLittleEndian64(&header[48]);
  std::memcpy(table.diskId.data(), &header[56], 16);
  const uint64_t arrayLba = GetLittleEndian64(&header[72]);
  const uint32_t entries = GetLittleEndian32(&header[80]);
  const uint32_t entrySize = GetLittleEndian32(&header[84]);
  table.arrayCrc = GetLittleEndian32(&header[88]);
  if (entries == 0 || entries > kMaxEntries || entrySize < 128 || entrySize % 8 != 0 ||
      table.firstUsable > table.lastUsable || table.lastUsable >= sectors) {
    return false;
  }
  const uint64_t arrayBytes = uint64_t{entries} * entrySize;
  const uint64_t arraySectors = (arrayBytes + sectorSize - 1) / sectorSize;
  if (arrayLba >= sectors || arraySectors > sectors - arrayLba) return false;
  std::vector<uint8_t> array(arraySectors * sectorSize);
  if (!read(arrayLba, arraySectors, array.data())) return false;
  if (platform::Crc32(array.data(), arrayBytes) != table.arrayCrc) return false;

  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* e = &array[uint64_t{i} * entrySize];
    GptPartition part;
    std::memcpy(part.type.data(), e, 16);
    if (part.type == std::array<uint8_t, 16>{}) continue;  // unused
    std::memcpy(part.id.data(), e + 16, 16);
    part.first = GetLittleEndian64(e + 32);
    part.last = GetLittleEndian64(e + 40);
    part.attributes = GetLittleEndian64(e + 48);
    for (size_t k = 0; k < 36; ++k) {
      const char16_t c = static_cast<char16_t>(GetLittleEndian16(e + 56 + 2 * k));
      if (c == 0) break;
      part.name.push_back(c);
    }
    // A partition outside the usable sectors is one the system ignores.
    if (part.first < table.firstUsable || part.last > table.lastUsable || part.first > part.last) {
      continue;
    }
    table.partitions.push_back(std::move(part));
  }
  *out = std::move(table);
  return true;
}

}  // namespace

bool ParseGpt(const SectorReader& read, uint64_t sectors, uint32_t sectorSize, GptTable* out) {
  if (sectors < 3 || sectorSize < 512) return false;
  return ParseAt(read, sectors, sectorSize, 1, out) ||
         ParseAt(read, sectors, sectorSize, sectors - 1, out);
}

}  // namespace sim
