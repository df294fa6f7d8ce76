// The manufacturing images built into the programs. The bridge maker's images
// are not ours to ship, so the build makes stand-ins of the same names and
// sizes (make_stand_in_images.cpp); the bench's boot ROM accepts exactly these
// and refuses any other bytes. Each stand-in begins with a 32-byte tag
// ("KV STAND-IN " and the name, NUL-padded); the rest is an xorshift32
// stream seeded by the FNV-1a hash of the name. `crc32` is the common CRC-32
// (reflected 0xEDB88320, initial and final value 0xFFFFFFFF, as zlib's
// crc32) of the whole image; the generator refuses to emit an image whose
// checksum differs from this table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace resources {

// Kind of the program resources that hold firmware.
inline constexpr std::string_view kFirmwareResourceKind = "FW";

struct StandInImage {
  std::string_view name;
  uint32_t size;
  uint32_t crc32;
};

inline constexpr size_t kStandInTagSize = 32;
inline constexpr std::string_view kStandInTagPrefix = "KV STAND-IN ";

inline constexpr std::array<StandInImage, 12> kStandInImages = {{
    {"QVS871_ROM0_MFG", 65536, 0xCC441193},
    {"QVS872_ROM0_MFG", 65536, 0xF9EC1062},
    {"QVS871_ROM1_MFG", 65536, 0xE67CBB7F},
    {"QVS872_ROM1_MFG", 65536, 0x452E8258},
    {"QVS873_ROM1_MFG", 65536, 0x5C13A4BD},
    {"QVS875_ROM1_MFG", 65536, 0x94944A38},
    {"QVS885_ROM0_MFG", 50176, 0xD5341AA7},
    {"QVS884_ROM_MFG_A0", 50176, 0xAB0FFDC6},
    {"QVS884_ROM_MFG_A1", 50176, 0x0A76DF7E},
    {"QVS891_ROM0_MFG", 65536, 0xF6CA1510},
    {"QVS894_ROM0_MFG", 65536, 0xCD0C5B4A},
    {"QVB639FW", 32768, 0xE3CCE630},
}};

constexpr uint32_t StandInSeed(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (char c : name) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  return hash == 0 ? 1 : hash;
}

// The xorshift32 stream seeded by `name`, into out[0..size).
constexpr void FillStandInStream(std::string_view name, uint8_t* out, size_t size) {
  uint32_t x = StandInSeed(name);
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
}

// Writes the stand-in of `image` into out[0..image.size).
constexpr void MakeStandInImage(const StandInImage& image, uint8_t* out) {
  for (size_t i = 0; i < kStandInTagSize; ++i) {
    const std::string_view tag = kStandInTagPrefix;
    out[i] = i < tag.size()                     ? static_cast<uint8_t>(tag[i])
             : i - tag.size() < image.name.size() ? static_cast<uint8_t>(image.name[i - tag.size()])
                                                  : 0;
  }
  if (image.size > kStandInTagSize) FillStandInStream(image.name, out + kStandInTagSize, image.size - kStandInTagSize);
}

}  // namespace resources
