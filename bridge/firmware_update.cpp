#include "bridge/firmware_update.h"

#include <algorithm>
#include <cstring>

#include "bridge/chip_identification.h"
#include "bridge/image_crc.h"
#include "bridge/manufacturing_download.h"
#include "bridge/mfg_images.h"
#include "bridge/vendor_commands.h"
#include "platform/debug.h"
#include "platform/heap_buffer.h"

namespace bridge {

using platform::HeapBuffer;

namespace {

constexpr uint8_t kEraseTypeSector = 1;

// Image byte i as it was sent: zero past the image.
uint8_t SentByte(std::span<const uint8_t> image, size_t i) { return i < image.size() ? image[i] : 0; }

bool InHeader(size_t i) {
  const size_t inBank = i % kBankSize;
  return inBank >= kHeaderSkipFirst && inBank <= kHeaderSkipLast;
}

// The first `n` bytes of the read-back equal the image, headers skipped.
bool SameCode(const uint8_t* readBack, std::span<const uint8_t> image, size_t n, bool bothHeaders) {
  for (size_t i = 0; i < n; ++i) {
    if (bothHeaders ? InHeader(i) : i >= kHeaderSkipFirst && i <= kHeaderSkipLast) continue;
    if (readBack[i] != SentByte(image, i)) return false;
  }
  return true;
}

std::span<const uint8_t> ImageBytes(const LoadedImage& image) {
  return image.data != nullptr ? std::span<const uint8_t>(image.data, image.length)
                               : std::span<const uint8_t>();
}

// The configuration block from the image's block with config256 over its
// first 256 bytes.
void BuildConfigBlock(uint8_t (&block)[kFlashConfigBlockSize], std::span<const uint8_t> image,
                      uint32_t imageBlock, const uint8_t* config256) {
  for (uint32_t i = 0; i < kFlashConfigBlockSize; ++i) block[i] = SentByte(image, imageBlock + i);
  if (config256 != nullptr) std::memcpy(block, config256, kConfigAreaSize);
}

int WriteAndCheckBlock(const char* devicePath, uint32_t address,
                       const uint8_t (&block)[kFlashConfigBlockSize]) {
  if (WriteBridgeFlash(devicePath, address, block, kFlashConfigBlockSize, kEraseTypeSector) == 0)
    return 0;
  uint8_t back[kFlashConfigBlockSize] = {};
  if (ReadBridgeFlash(devicePath, address, back, sizeof back) == 0) return 0;
  return std::memcmp(back, block, sizeof back) == 0 ? 1 : 0;
}

struct OneKDriver {
  uint32_t configAddress;
  uint32_t imageBlock;    // also the end of the compared code
  int (*download)(const char*, uint32_t, uint32_t, bool, const LoadedImage&, int, bool);
  int (*readBack)(const char*, uint32_t, uint8_t*, uint32_t);
  int revision = 0;       // QVS884 only
  bool enPd = false;
  bool qvs884 = false;
};

int Download887(const char* p, uint32_t s, uint32_t l, bool b, const LoadedImage& i, int, bool) {
  return DownloadFirmwareQVS887(p, s, l, b, i);
}
int Download884(const char* p, uint32_t s, uint32_t l, bool b, const LoadedImage& i, int r, bool e) {
  return DownloadFirmwareQVS884(p, s, l, b, r, e, i);
}
int Download891(const char* p, uint32_t s, uint32_t l, bool b, const LoadedImage& i, int, bool) {
  return DownloadFirmwareQVS891(p, s, l, b, i);
}
int Download894(const char* p, uint32_t s, uint32_t l, bool b, const LoadedImage& i, int, bool) {
  return DownloadFirmwareQVS894(p, s, l, b, i);
}

int Update1K(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
             const uint8_t* config256, bool writeConfig, bool writeFirmware, const OneKDriver& driver,
             const LoadedImage& loaded) {
  const std::span<const uint8_t> image = ImageBytes(loaded);
  if (!writeFirmware) {
    uint8_t block[kFlashConfigBlockSize] = {};
    if (ReadBridgeFlash(devicePath, driver.configAddress, block, sizeof block) == 0 || bootRom)
      return 0;
    if (config256 != nullptr) std::memcpy(block, config256, kConfigAreaSize);
    return WriteAndCheckBlock(devicePath, driver.configAddress, block);
  }

  uint8_t chipInfo[kChipInfoLength] = {};
  const bool chipInfoRead =
      driver.qvs884 && ReadChipInfo(devicePath, chipInfo, sizeof chipInfo) != 0;
  const bool large = loaded.length >= kQvs884LargeImageSize;
  HeapBuffer readBack(length);
  if (!readBack.valid()) return 0;

  for (int attempt = 0; attempt < kUpdateTries; ++attempt) {
    if (attempt != 0) platform::DebugTrace("firmware update: try %d\n", attempt + 1);
    if (driver.download(devicePath, start, length, bootRom, loaded, driver.revision, driver.enPd) == 0)
      continue;
    uint8_t block[kFlashConfigBlockSize] = {};
    if (writeConfig) {
      BuildConfigBlock(block, image, driver.imageBlock, config256);
      if (WriteBridgeFlash(devicePath, driver.configAddress, block, sizeof block, kEraseTypeSector) == 0)
        continue;
    } else if (driver.qvs884 && driver.revision == 2 && !large) {
      // The A1 keeps its configuration: take it from the other bank. A
      // boot ROM (byte 7 0xFF) names no bank, so there is none to keep.
      if (!chipInfoRead) continue;
      const uint8_t bank = chipInfo[kChipInfoBootRomVersion];
      if (bank <= 1) {
        if (bank == 0 && driver.configAddress < 0x10000) continue;
        const uint32_t from = bank == 0 ? driver.configAddress - 0x10000 : driver.configAddress + 0x10000;
        if (ReadBridgeFlash(devicePath, from, block, sizeof block) == 0) continue;
        if (WriteBridgeFlash(devicePath, driver.configAddress, block, sizeof block, kEraseTypeSector) == 0)
          continue;
      }
    }
    std::memset(readBack.data(), 0, readBack.size());
    if (driver.readBack(devicePath, start, readBack.data(), length) == 0) continue;
    const uint32_t n = std::min(bootRom ? length : driver.imageBlock, driver.imageBlock);
    if (!SameCode(readBack.data(), image, n, false)) continue;
    if (writeConfig) {
      uint8_t back[kFlashConfigBlockSize] = {};
      if (ReadBridgeFlash(devicePath, driver.configAddress, back, sizeof back) == 0 ||
          std::memcmp(back, block, sizeof back) != 0)
        continue;
    }
    return 1;
  }
  return 0;
}

}  // namespace

int UpdateFirmwareQVS87x(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                         bool useFirst, std::span<const uint8_t> firstImage,
                         std::span<const uint8_t> config4K, std::span<const uint8_t> secondImage) {
  const std::span<const uint8_t> image = useFirst ? firstImage : secondImage;
  HeapBuffer readBack(length);
  if (!readBack.valid()) return 0;
  for (int attempt = 0; attempt < kUpdateTries; ++attempt) {
    if (attempt != 0) platform::DebugTrace("QVS87x update: try %d\n", attempt + 1);
    if (DownloadFirmwareQVS87x(devicePath, start, length, bootRom, useFirst, firstImage, config4K,
                               secondImage) == 0)
      continue;
    std::memset(readBack.data(), 0, readBack.size());
    if (ReadFirmwareQVS87x(devicePath, start, readBack.data(), length) == 0) continue;
    const bool whole = bootRom || IsChipInfoVersion2(devicePath) != 0;
    const uint32_t n = whole ? length : std::min<uint32_t>(length, kBankSize);
    if (SameCode(readBack.data(), image, n, true)) return 1;
  }
  return 0;
}

int UpdateFirmwareQVS887(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                         const uint8_t* config256, bool writeConfig, bool writeFirmware,
                         const LoadedImage& image) {
  return Update1K(devicePath, start, length, bootRom, config256, writeConfig, writeFirmware,
                  {kQvs887ConfigAddress, kQvs887ImageConfigBlock, Download887, ReadFirmwareQVS887},
                  image);
}

int UpdateFirmwareQVS891(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                         const uint8_t* config256, bool writeConfig, bool writeFirmware,
                         const LoadedImage& image) {
  return Update1K(devicePath, start, length, bootRom, config256, writeConfig, writeFirmware,
                  {kQvs891ConfigAddress, kQvs891ImageConfigBlock, Download891, ReadFirmwareQVS891},
                  image);
}

int UpdateFirmwareQVS894(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                         const uint8_t* config256, bool writeConfig, bool writeFirmware,
                         const LoadedImage& image) {
  return Update1K(devicePath, start, length, bootRom, config256, writeConfig, writeFirmware,
                  {kQvs891ConfigAddress, kQvs891ImageConfigBlock, Download894, ReadFirmwareQVS894},
                  image);
}

int UpdateFirmwareQVS884(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                         const uint8_t* config256, bool writeConfig, bool writeFirmware,
                         int revision, uint32_t configAddress, bool enPd, const LoadedImage& image) {
  return Update1K(devicePath, start, length, bootRom, config256, writeConfig, writeFirmware,
                  {configAddress, kQvs887ImageConfigBlock, Download884, ReadFirmwareQVS884, revision,
                   enPd, true},
                  image);
}

}  // namespace bridge
