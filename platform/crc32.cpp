#include "platform/crc32.h"

#include <array>

#include "platform/byte_order.h"

namespace platform {
namespace {

using Table = std::array<uint32_t, 256>;

// kTables[0] is the byte-at-a-time table; kTables[k] carries a byte over k
// more zero bytes, so eight bytes fold in with eight independent look-ups
// rather than a chain of eight. The bench checks a GPT's checksums on every
// volume transfer, under its one lock.
constexpr std::array<Table, 8> MakeTables() {
  std::array<Table, 8> tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    tables[0][n] = c;
  }
  for (size_t k = 1; k < tables.size(); ++k)
    for (uint32_t n = 0; n < 256; ++n)
      tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFF];
  return tables;
}

constexpr std::array<Table, 8> kTables = MakeTables();

}  // namespace

uint32_t Crc32(const void* data, size_t length, uint32_t previous) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t crc = ~previous;
  for (; length >= 8; bytes += 8, length -= 8) {
    const uint32_t low = GetLittleEndian32(bytes) ^ crc;
    const uint32_t high = GetLittleEndian32(bytes + 4);
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
          kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
  }
  for (; length > 0; ++bytes, --length) crc = kTables[0][(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace platform
