// Multi-byte values in byte buffers: the configuration images, CDB payloads
// and firmware headers store them big-endian, the USB descriptors and the
// on-disk records (boot sectors, partition tables) little-endian.
#pragma once

#include <cstdint>

namespace platform {

constexpr void PutBigEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

constexpr uint32_t GetBigEndian32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) << 24 | static_cast<uint32_t>(in[1]) << 16 |
         static_cast<uint32_t>(in[2]) << 8 | in[3];
}

constexpr uint16_t GetBigEndian16(const uint8_t* in) {
  return static_cast<uint16_t>(in[0] << 8 | in[1]);
}

constexpr uint32_t GetBigEndian24(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[2];
}

constexpr void PutBigEndian64(uint8_t* out, uint64_t value) {
  PutBigEndian32(out, static_cast<uint32_t>(value >> 32));
  PutBigEndian32(out + 4, static_cast<uint32_t>(value));
}

constexpr void PutLittleEndian16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void PutLittleEndian32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint16_t GetLittleEndian16(const uint8_t* in) { return static_cast<uint16_t>(in[0] | in[1] << 8); }

constexpr uint32_t GetLittleEndian32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
         static_cast<uint32_t>(in[3]) << 24;
}

constexpr void PutLittleEndian64(uint8_t* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint64_t GetLittleEndian64(const uint8_t* in) {
  return static_cast<uint64_t>(GetLittleEndian32(in + 4)) << 32 | GetLittleEndian32(in);
}

}  // namespace platform
