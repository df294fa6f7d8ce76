#include "bridge/ff04_flash_programming.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "bridge/disk_resident_firmware.h"
#include "bridge/flash_detection.h"
#include "bridge/vendor_commands.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/heap_buffer.h"
#include "platform/message_box.h"

namespace bridge {

using platform::HeapBuffer;

namespace {

constexpr uint8_t kStatusBusy = 0x01;
constexpr uint32_t kPollMs = 10;

constexpr uint32_t kEraseBlock = 0x8000;  // FlashEraseBlock's unit
constexpr uint32_t kWriteChunk = 0x4000;  // one FlashWrite / FlashRead of the flows
constexpr uint32_t kSecondBlockPauseMs = 100;

constexpr uint8_t kHeaderMagic[4] = {0x55, 0xAA, 0xAA, 0x55};
constexpr char kHeaderFamily[3] = {'6', '6', '2'};
constexpr uint32_t kDeviceSourceAddress = 0x1000;
constexpr uint32_t kDeviceSourceLength = 0x7000;
constexpr uint32_t kMinimumSource = 0x4000;

// SST AAI programming.
constexpr uint32_t kAaiPiece = 8192;
constexpr uint32_t kAaiBlock = 512;
constexpr uint32_t kAaiAddressEvery = 0x4000;
constexpr uint8_t kSpiEwsr = 0x50;
constexpr uint8_t kSpiWrsr = 0x01;
constexpr uint8_t kSpiWren = 0x06;
constexpr uint8_t kSpiWrdi = 0x04;
constexpr uint8_t kSpiAai = 0xAD;

constexpr char kNoFirmwareUpdate[] = "This device not support Firmware Update!";

constexpr uint32_t RoundUp(uint32_t value, uint32_t unit) {
  return (value + unit - 1) / unit * unit;
}

bool AllErased(const uint8_t* bytes, size_t length) {
  return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == 0xFF; });
}

int SendSpi(const char* devicePath, std::initializer_list<uint8_t> bytes, bool dataPhase) {
  SpiByteRecord record;
  record.count = static_cast<uint8_t>(bytes.size());
  record.dataPhase = dataPhase ? 1 : 0;
  std::copy(bytes.begin(), bytes.end(), record.bytes);
  return SendSpiBytes(devicePath, record, nullptr, 0);
}

// Erases the 32 KB blocks from 0 that cover `area` and checks that each
// half reads 0xFF; 0 on the first failure, before anything is written.
int EraseAndCheckBlocks(const char* devicePath, uint32_t area) {
  HeapBuffer check(kWriteChunk);
  if (!check.valid()) return 0;
  for (uint32_t block = 0; block < RoundUp(area, kEraseBlock); block += kEraseBlock) {
    if (!WaitFlashReady(devicePath) || !FlashEraseBlock(devicePath, block)) return 0;
    for (uint32_t half = block; half < block + kEraseBlock; half += kWriteChunk) {
      if (!WaitFlashReady(devicePath) || !FlashRead(devicePath, half, check.data(), kWriteChunk) ||
          !AllErased(check.data(), kWriteChunk))
        return 0;
    }
  }
  return 1;
}

// Writes the 16 KB chunk at `address` and reads it back for comparison.
int WriteAndVerifyChunk(const char* devicePath, uint32_t address, const uint8_t* chunk, bool aai,
                        uint8_t* readBack) {
  if (aai) {
    if (!ProgramFlashAai(devicePath, address, chunk, kWriteChunk)) return 0;
  } else if (!WaitFlashReady(devicePath) || !FlashWrite(devicePath, address, chunk, kWriteChunk)) {
    return 0;
  }
  std::memset(readBack, 0, kWriteChunk);
  if (!WaitFlashReady(devicePath) || !FlashRead(devicePath, address, readBack, kWriteChunk))
    return 0;
  return std::memcmp(readBack, chunk, kWriteChunk) == 0 ? 1 : 0;
}

int WriteAndVerifyArea(const char* devicePath, const uint8_t* area, uint32_t length, bool aai) {
  HeapBuffer readBack(kWriteChunk);
  if (!readBack.valid()) return 0;
  for (uint32_t address = 0; address < length; address += kWriteChunk)
    if (!WriteAndVerifyChunk(devicePath, address, area + address, aai, readBack.data())) return 0;
  return 1;
}

// One AAI block: the status and enable commands, the AD opcode (with the
// address at every 16 KB), the first two bytes as the data phase, then one
// command per further pair.
int ProgramAaiBlock(const char* devicePath, uint32_t address, const uint8_t* data,
                    uint32_t length) {
  if (!SendSpi(devicePath, {kSpiEwsr}, false) ||
      !SendSpi(devicePath, {kSpiWrsr, 0x00, 0x00}, false))
    return 0;
  platform::Sleep(kPollMs);
  if (!SendSpi(devicePath, {kSpiWren}, false)) return 0;
  platform::Sleep(kPollMs);
  const bool opened =
      address % kAaiAddressEvery == 0
          ? SendSpi(devicePath,
                    {kSpiAai, static_cast<uint8_t>(address >> 16),
                     static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)},
                    true)
          : SendSpi(devicePath, {kSpiAai}, true);
  if (!opened) return 0;
  // An odd last byte is paired with 0xFF, which programs nothing.
  const auto byteAt = [&](uint32_t i) -> uint8_t { return i < length ? data[i] : 0xFF; };
  const uint8_t first[2] = {byteAt(0), byteAt(1)};
  if (!WriteSpiData(devicePath, first, sizeof(first))) return 0;
  for (uint32_t i = 2; i < length; i += 2)
    if (!SendSpi(devicePath, {kSpiAai, byteAt(i), byteAt(i + 1)}, false)) return 0;
  return 1;
}

}  // namespace

int WaitFlashReady(const char* devicePath) {
  return WaitFlashStatus(devicePath, kStatusBusy, 0, kFlashReadyReads);
}

int WaitFlashIdle(const char* devicePath) {
  for (int poll = 0; poll < kFlashIdlePolls; ++poll) {
    if (poll != 0) platform::Sleep(kPollMs);
    if (!ReadFlashBusy(devicePath)) return 1;
  }
  return 0;
}

int ReadSpiFlashChunked(const char* devicePath, uint32_t address, uint8_t* buffer,
                        uint32_t length) {
  if (length == 0) return 0;
  for (uint32_t done = 0; done < length;) {
    const uint32_t chunk = std::min(kSpiReadChunk, length - done);
    if (!WaitFlashReady(devicePath) || !FlashRead(devicePath, address + done, buffer + done, chunk))
      return 0;
    done += chunk;
  }
  return 1;
}

int ProgramFlashAai(const char* devicePath, uint32_t address, const uint8_t* data,
                    uint32_t length) {
  if (length == 0) return 0;
  for (uint32_t piece = 0; piece < length; piece += kAaiPiece) {
    if (piece != 0) platform::Sleep(kPollMs);
    if (!WaitFlashReady(devicePath)) return 0;
    const uint32_t pieceEnd = std::min(length, piece + kAaiPiece);
    for (uint32_t block = piece; block < pieceEnd; block += kAaiBlock) {
      if (!ProgramAaiBlock(devicePath, address, data + block, std::min(kAaiBlock, pieceEnd - block)))
        return 0;
      address += kAaiBlock;
    }
  }
  return SendSpi(devicePath, {kSpiWrdi}, false);
}

int FlashFamilyOf(int setting) { return setting < 0 || setting == 255 ? kFlashFamily0 : setting; }

int ProgramFirmware32K(const char* devicePath, const LoadedImage& image) {
  if (!image.loaded() || image.length > kFirmware32KLimit) return 0;
  const uint32_t length = image.length;
  HeapBuffer readBack(length);
  // The last 16 KB chunk is written whole: pad the copy, never read past the image.
  HeapBuffer copy(RoundUp(length, kWriteChunk));
  if (!readBack.valid() || !copy.valid()) return 0;
  std::memcpy(copy.data(), image.data, length);

  if (!WaitFlashReady(devicePath)) platform::DebugTrace("0.1 Device initial not ready!!");
  if (!FlashEraseBlock(devicePath, 0) || !WaitFlashReady(devicePath)) return 0;
  if (length > kEraseBlock) {
    if (!FlashEraseBlock(devicePath, kEraseBlock)) return 0;
    platform::Sleep(kSecondBlockPauseMs);
    if (!WaitFlashReady(devicePath)) return 0;
  }
  if (!FlashRead(devicePath, 0, readBack.data(), length) || !AllErased(readBack.data(), length))
    return 0;

  for (uint32_t address = 0; address < copy.size(); address += kWriteChunk)
    if (!FlashWrite(devicePath, address, copy.data() + address, kWriteChunk)) return 0;

  std::memset(readBack.data(), 0, length);
  if (!WaitFlashReady(devicePath) || !FlashRead(devicePath, 0, readBack.data(), length)) return 0;
  return std::memcmp(readBack.data(), image.data, length) == 0 ? 1 : 0;
}

bool HasHeaderBlock(const uint8_t* image, uint32_t length) {
  const uint32_t end = kHeaderBlockSize + sizeof(kHeaderMagic) + sizeof(kHeaderFamily);
  return image && length >= end &&
         std::memcmp(image + kHeaderBlockSize, kHeaderMagic, sizeof(kHeaderMagic)) == 0 &&
         std::memcmp(image + kHeaderBlockSize + sizeof(kHeaderMagic), kHeaderFamily,
                     sizeof(kHeaderFamily)) == 0;
}

int ProgramFirmwareKeepHeader(const char* devicePath, bool configGiven, bool useLoadedImage,
                              const uint8_t* config128, const LoadedImage& image) {
  if (configGiven && !config128) return 0;
  if (useLoadedImage && !image.loaded()) return 0;

  HeapBuffer deviceSource(useLoadedImage ? 0 : kDeviceSourceLength);
  const uint8_t* source = image.data;
  uint32_t sourceLength = image.length;
  if (!useLoadedImage) {
    if (!deviceSource.valid() || !WaitFlashReady(devicePath) ||
        !FlashRead(devicePath, kDeviceSourceAddress, deviceSource.data(), kDeviceSourceLength))
      return 0;
    source = deviceSource.data();
    sourceLength = kDeviceSourceLength;
  }
  const bool withHeader = useLoadedImage && HasHeaderBlock(source, sourceLength);

  const uint32_t n = std::max(sourceLength, kMinimumSource);
  const uint32_t area = RoundUp(withHeader ? n : n + kHeaderBlockSize, kWriteChunk);
  // The flash image as it is to stand: a private copy, since the loaded
  // image is shared by every worker. Past the source it is zero.
  HeapBuffer flashImage(area);
  HeapBuffer deviceHeader(kHeaderBlockSize);
  if (!flashImage.valid() || !deviceHeader.valid()) return 0;

  if (!withHeader || !configGiven) {
    if (!WaitFlashReady(devicePath) ||
        !FlashRead(devicePath, 0, deviceHeader.data(), kHeaderBlockSize))
      return 0;
  }
  if (withHeader) {
    std::memcpy(flashImage.data(), source, sourceLength);
    std::memcpy(flashImage.data(), configGiven ? config128 : deviceHeader.data(),
                kCallerConfigSize);
  } else {
    std::memcpy(flashImage.data(), deviceHeader.data(), kHeaderBlockSize);
    if (configGiven) std::memcpy(flashImage.data(), config128, kCallerConfigSize);
    std::memcpy(flashImage.data() + kHeaderBlockSize, source, sourceLength);
  }

  if (!EraseAndCheckBlocks(devicePath, area)) return 0;
  return WriteAndVerifyArea(devicePath, flashImage.data(), area, false);
}

int ProgramFlash48K(const char* devicePath, bool configGiven, bool useLoadedImage,
                    const uint8_t* config128, bool useAai, const LoadedImage& image) {
  if (configGiven && !config128) return 0;
  if (useLoadedImage && (!image.loaded() || image.length > kFlash48KSize)) return 0;
  HeapBuffer flashImage(kFlash48KSize);
  if (!flashImage.valid()) return 0;

  if (useLoadedImage) {
    std::memcpy(flashImage.data(), image.data, image.length);
  } else {
    for (uint32_t address = 0; address < kFlash48KConfigArea; address += kWriteChunk)
      if (!WaitFlashReady(devicePath) ||
          !FlashRead(devicePath, address, flashImage.data() + address, kWriteChunk))
        return 0;
  }
  uint8_t* configArea = flashImage.data() + kFlash48KConfigArea;
  if (configGiven) {
    std::memcpy(configArea, config128, kCallerConfigSize);
  } else if (!WaitFlashReady(devicePath) ||
             !FlashRead(devicePath, kFlash48KConfigArea, configArea, kDeviceConfigAreaSize)) {
    return 0;
  }

  if (!EraseAndCheckBlocks(devicePath, kFlash48KSize)) return 0;
  return WriteAndVerifyArea(devicePath, flashImage.data(), kFlash48KSize, useAai);
}

int ProgramOtherFlashFamily(const char* devicePath, int flashFamily, const LoadedImage& image) {
  if (!image.loaded()) return 0;
  const int family = FlashFamilyOf(flashFamily);
  HeapBuffer readBack(image.length);
  if (!readBack.valid()) return 0;

  if (!FlashCmd05(devicePath) || !FlashSetType(devicePath, family)) return 0;
  if (!FlashCmd01(devicePath) || !WaitFlashIdle(devicePath) ||
      !FlashRead32(devicePath, 0, readBack.data(), image.length) ||
      !AllErased(readBack.data(), image.length))
    return 0;

  if (!WaitFlashIdle(devicePath) ||
      !FlashUnlockWrite(devicePath, image.data, image.length, family) ||
      !WaitFlashIdle(devicePath))
    return 0;
  std::memset(readBack.data(), 0, image.length);
  if (!FlashRead32(devicePath, 0, readBack.data(), image.length)) return 0;
  return std::memcmp(readBack.data(), image.data, image.length) == 0 ? 1 : 0;
}

int UpdateFirmwareByChipType(const char* devicePath, ChipType chipType, int flashFamily,
                             const LoadedImage& image) {
  switch (chipType) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 15: case 16: case 18:
      return ProgramFirmware32K(devicePath, image);
    case 29: case 34:
      return ProgramOtherFlashFamily(devicePath, flashFamily, image);
    case 7:  // its firmware lives in the reserved area of the disk
      return UpdateDiskFirmwareType7(devicePath, chipType, image);
    default:
      platform::MessageBox(kNoFirmwareUpdate, "Error", platform::kMbOk | platform::kMbIconError);
      return 0;
  }
}

}  // namespace bridge
