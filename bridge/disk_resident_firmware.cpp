#include "bridge/disk_resident_firmware.h"

#include <algorithm>
#include <cstring>

#include "bridge/block_commands.h"
#include "bridge/scsi_pass_through.h"
#include "bridge/vendor_commands.h"
#include "platform/heap_buffer.h"
#include "platform/resources.h"

namespace bridge {

using platform::HeapBuffer;

namespace {

constexpr uint64_t kMaxLba48 = (uint64_t{1} << 48);

uint16_t Word(const uint8_t* identify, size_t word) {
  return static_cast<uint16_t>(identify[2 * word] | identify[2 * word + 1] << 8);
}

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

int WriteAndCompare(const char* devicePath, uint64_t lba, const HeapBuffer& image, uint32_t sectorSize) {
  const auto length = static_cast<uint32_t>(image.size());
  if (lba + length / sectorSize > kMaxLba48) return 0;
  if (AtaWriteDmaExt(devicePath, lba, image.data(), length, sectorSize) == 0) return 0;
  HeapBuffer back(length);
  if (!back.valid()) return 0;
  if (AtaReadDmaExt(devicePath, lba, back.data(), length, sectorSize) == 0) return 0;
  return std::memcmp(back.data(), image.data(), length) == 0 ? 1 : 0;
}

// Builds the area image from `firmware` and writes it below the area LBA.
int WriteFirmwareArea(const char* devicePath, unsigned chipType, const uint8_t* firmware, size_t size) {
  if (firmware == nullptr || size == 0 || size > kDiskFirmwareAreaSize) return 0;
  const uint32_t sectorSize = ReadDiskSectorSize(devicePath);
  const uint64_t area = LocateDiskFirmwareArea(devicePath, sectorSize, chipType);
  const bool flag = ReadDiskAreaFlag(devicePath) != 0;
  uint64_t start = 0;
  if (!DiskFirmwareStartLba(area, flag, sectorSize, &start)) return 0;
  HeapBuffer image(kDiskFirmwareAreaSize);
  if (!image.valid()) return 0;
  std::memcpy(image.data(), firmware, size);
  uint8_t* marker = image.data() + kAreaMarkerOffset;
  marker[0] = 0x55;
  const auto v = static_cast<uint32_t>(area);
  marker[1] = static_cast<uint8_t>(v >> 24);
  marker[2] = static_cast<uint8_t>(v >> 16);
  marker[3] = static_cast<uint8_t>(v >> 8);
  marker[4] = static_cast<uint8_t>(v);
  marker[5] = 0xAA;
  return WriteAndCompare(devicePath, start, image, sectorSize);
}

constexpr uint8_t kConfigPattern[2] = {'Q', 'V'};
constexpr size_t kTestBytes = 120;
constexpr uint32_t kEepromHeadSize = 128;

bool WriteHeadWith(const char* devicePath, const uint8_t (&original)[kEepromHeadSize], uint8_t a,
                   uint8_t b) {
  uint8_t head[kEepromHeadSize];
  std::memcpy(head, original, sizeof head);
  head[kTestBytes] = a;
  head[kTestBytes + 1] = b;
  if (WriteBridgeFlashHead(devicePath, head, sizeof head) == 0) return false;
  uint8_t back[kEepromHeadSize] = {};
  if (ReadBridgeFlashHead(devicePath, back, sizeof back) == 0) return false;
  return back[kTestBytes] == a && back[kTestBytes + 1] == b;
}

}  // namespace

size_t LoadFirmwareResource(uint8_t* buffer, size_t bufferSize, uint32_t offset, uint32_t length) {
  const platform::ResourceData resource = platform::FindResource(kQvb639FirmwareName, "FW");
  if (resource.data == nullptr || offset >= resource.size) return 0;
  size_t n = resource.size - offset;
  if (length != 0 && length < n) n = length;
  if (offset >= bufferSize) return resource.size;
  n = std::min(n, bufferSize - offset);
  if (buffer != nullptr) std::memcpy(buffer + offset, resource.data + offset, n);
  return resource.size;
}

// ATA PASS-THROUGH(12): PIO data-in, length in the sector count, IDENTIFY
// DEVICE with the device register 0x40.
constexpr uint8_t kIdentifyCdb[12] = {0xA1, 0x08, 0x0E, 0, 0, 0, 0, 0, 0x40, 0xEC, 0, 0};

int ReadIdentifyData(const char* devicePath, uint8_t* buffer) {
  return ScsiPassThroughIn(devicePath, kIdentifyCdb, sizeof kIdentifyCdb, buffer, kIdentifyDataSize,
                           nullptr);
}

uint64_t IdentifySectorCount(const uint8_t* identify) {
  const uint32_t count28 = uint32_t{Word(identify, 60)} | uint32_t{Word(identify, 61)} << 16;
  if (count28 != 0x0FFFFFFF) return count28;
  uint64_t count48 = 0;
  for (size_t w = 0; w < 4; ++w) count48 |= uint64_t{Word(identify, 100 + w)} << (16 * w);
  return count48;
}

uint32_t IdentifySectorSize(const uint8_t* identify) {
  const uint16_t word106 = Word(identify, 106);
  const bool valid = (word106 & 0xC000) == 0x4000;
  if (!valid || (word106 & 0x1000) == 0) return kDefaultSectorSize;
  const uint64_t size = 2 * (uint64_t{Word(identify, 117)} | uint64_t{Word(identify, 118)} << 16);
  const bool powerOfTwo = size != 0 && (size & (size - 1)) == 0;
  return powerOfTwo && size >= kDefaultSectorSize && size <= kMaxSectorSize ? static_cast<uint32_t>(size)
                                                                            : kDefaultSectorSize;
}

uint64_t ReadDiskSectorCount(const char* devicePath) {
  uint8_t identify[kIdentifyDataSize] = {};
  return ReadIdentifyData(devicePath, identify) != 0 ? IdentifySectorCount(identify) : 0;
}

uint32_t ReadDiskSectorSize(const char* devicePath) {
  uint8_t identify[kIdentifyDataSize] = {};
  return ReadIdentifyData(devicePath, identify) != 0 ? IdentifySectorSize(identify) : kDefaultSectorSize;
}

int ReadDiskAreaFlag(const char* devicePath) {
  uint8_t block[kAreaBlockSize] = {};
  return ReadConfigBlock(devicePath, block, sizeof block) != 0 && block[17] == 1 ? 1 : 0;
}

int HasDiskFirmwareSignature(const char* devicePath, unsigned chipType) {
  if (chipType == 7) {
    uint8_t block[kAreaBlockSize] = {};
    return ReadConfigBlock(devicePath, block, sizeof block) != 0 && block[16] == 1 ? 1 : 0;
  }
  uint8_t signature[4] = {};
  return ReadBridgeRegister(devicePath, 0xC000, signature, sizeof signature) != 0 &&
                 signature[0] == 0x55 && signature[1] == 0xAA
             ? 1
             : 0;
}

uint64_t LocateDiskFirmwareArea(const char* devicePath, uint32_t sectorSize, unsigned chipType) {
  if (sectorSize == 0 || sectorSize > kMaxSectorSize) sectorSize = kDefaultSectorSize;
  const uint64_t last = ReadCapacity16(devicePath);
  const bool flag = ReadDiskAreaFlag(devicePath) != 0;
  const uint64_t n = ReadDiskSectorCount(devicePath);
  const uint64_t h = n >> 32;
  const uint64_t l = n & 0xFFFFFFFF;
  // n - 1 borrows from the high half when the low half is 0.
  const uint64_t fallback = (h != 0 ? n - 1 : last) + (flag ? 1 : 0);
  if (HasDiskFirmwareSignature(devicePath, chipType) == 0) return fallback;
  HeapBuffer marker(4 * size_t{sectorSize});
  if (!marker.valid()) return fallback;
  if (AtaReadDmaExt(devicePath, n, marker.data(), 4 * sectorSize, sectorSize) == 0) return fallback;
  const uint32_t v = BigEndian32(marker.data() + kAreaMarkerOffset + 1);
  if (v != 0) return h << 32 | v;
  return h != 0 ? (h << 32 | (l & 0xFF)) : l + 0x101;
}

bool DiskFirmwareStartLba(uint64_t areaLba, bool areaFlag, uint32_t sectorSize, uint64_t* start) {
  if (sectorSize == 0) return false;
  if (!areaFlag && areaLba == 0) return false;
  const uint64_t top = (areaFlag ? areaLba : areaLba - 1) & ~uint64_t{0xFF};
  if (top < 0x100) return false;
  *start = top - 0x100;
  return *start + kDiskFirmwareAreaSize / sectorSize <= kMaxLba48;
}

int UpdateFirmwareQVB639(const char* devicePath, unsigned chipType) {
  const platform::ResourceData resource = platform::FindResource(kQvb639FirmwareName, "FW");
  if (resource.data == nullptr || resource.size != kQvb639FirmwareSize) return 0;
  return WriteFirmwareArea(devicePath, chipType, resource.data, resource.size);
}

int UpdateDiskFirmwareType7(const char* devicePath, unsigned chipType, const LoadedImage& image) {
  if (!image.loaded()) return 0;
  return WriteFirmwareArea(devicePath, chipType, image.data, image.length);
}

void BuildDiskConfigSector(uint8_t* sector, uint32_t sectorSize, const uint8_t* config128) {
  std::memset(sector, 0, sectorSize);
  uint8_t config[kDiskConfigSize];
  std::memcpy(config, config128, sizeof config);
  config[kDiskConfigFlagByte] |= 0x20;
  for (size_t half = 0; half < 2; ++half) {
    uint8_t* base = sector + half * 256;
    for (size_t i = 0; i < 128; ++i) base[i] = kConfigPattern[i % 2];
    std::memcpy(base + 128, config, sizeof config);
  }
  if (sectorSize == 1024) std::memcpy(sector + 512, sector, 512);
  if (sectorSize == 4096) std::memcpy(sector + 3584, sector, 512);
}

int UpdateDiskFirmware(const char* devicePath, const uint8_t* config128, size_t configLength,
                       unsigned chipType) {
  if (config128 == nullptr || configLength < kDiskConfigSize) return 0;
  const uint32_t sectorSize = ReadDiskSectorSize(devicePath);
  const uint64_t area = LocateDiskFirmwareArea(devicePath, sectorSize, chipType);
  HeapBuffer sector(sectorSize);
  if (!sector.valid()) return 0;
  BuildDiskConfigSector(sector.data(), sectorSize, config128);
  const int result = WriteAndCompare(devicePath, area, sector, sectorSize);
  // The sector was read back and compared already; the flushes only push it
  // out of the disk's cache.
  for (int i = 0; i < 3; ++i) (void)FlushCacheExt(devicePath);
  return result;
}

int TestConfigEeprom(const char* devicePath) {
  uint8_t original[kEepromHeadSize] = {};
  if (ReadBridgeFlashHead(devicePath, original, sizeof original) == 0) return 0;
  const bool first = WriteHeadWith(devicePath, original, 0xAA, 0x55);
  const bool second = first && WriteHeadWith(devicePath, original, 0x55, 0xAA);
  // Put the bytes back whatever the patterns did; the answer is whether
  // they came back.
  (void)WriteBridgeFlashHead(devicePath, original, sizeof original);
  return first && second ? 1 : 0;
}

}  // namespace bridge
