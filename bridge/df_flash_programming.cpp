#include "bridge/df_flash_programming.h"

#include <algorithm>
#include <cstring>

#include "bridge/ff04_flash_programming.h"
#include "bridge/vendor_commands.h"
#include "platform/clock.h"
#include "platform/heap_buffer.h"

namespace bridge {

using platform::HeapBuffer;

namespace {

constexpr uint32_t kFlashType7HeadLength = 4096;
constexpr uint32_t kSettleMs = 500;
constexpr uint32_t kLegacyChunk = 0x2000;
constexpr uint32_t kLegacyEraseBlock = 0x8000;
constexpr uint32_t kDeviceHeadLength = 0x1000;
constexpr uint16_t kRegisterFDB0 = 0xFDB0;
constexpr uint8_t kFDB0High = 0xB4;
constexpr char kValidMark[2] = {'Q', 'V'};

constexpr uint32_t RoundUp(uint32_t value, uint32_t unit) {
  return (value + unit - 1) / unit * unit;
}

bool AllErased(const uint8_t* bytes, size_t length) {
  return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == 0xFF; });
}

bool HasValidMark(const uint8_t* at) { return std::memcmp(at, kValidMark, 2) == 0; }

// Which flash the write-verify loop chunks for: the firmware's code, or
// detection when the firmware does not know the part.
unsigned WriteVerifyFlashType(const char* devicePath, bool detectFlash) {
  uint8_t reply[4] = {};
  if (!ReadFlashTypeCode(devicePath, reply)) return 0;
  SpiFlashType type = SpiFlashTypeFromCode(reply[0]);
  SpiFlashRecord record;
  if (reply[0] == 0 && detectFlash && DetectSpiFlashType(devicePath, &record)) type = record.type;
  return type;
}

// The 0xDF reads of ProgramImageWithHeader or the FF 04 reads of ..ByPages.
enum class ReadPath { kDf, kFf04 };

int ReadWhole(const char* devicePath, ReadPath path, uint8_t* out, uint32_t length) {
  return path == ReadPath::kDf ? ReadFlashChunked(devicePath, 0, out, length)
                               : ReadSpiFlashChunked(devicePath, 0, out, length);
}

int ReadHead(const char* devicePath, ReadPath path, uint8_t* out) {
  if (path == ReadPath::kDf) return ReadFlashChunked(devicePath, 0, out, kDeviceHeadLength);
  return WaitFlashReady(devicePath) && FlashRead(devicePath, 0, out, kDeviceHeadLength);
}

// Assembles the ChipType 11-13 image into `buffer` (L bytes, zeroed).
int BuildHeaderImage(const char* devicePath, ReadPath path, bool writeConfig, bool writeFirmware,
                     const uint8_t* config128, const uint8_t* option4, const LoadedImage& image,
                     HeapBuffer& buffer) {
  uint8_t* out = buffer.data();
  const uint32_t length = static_cast<uint32_t>(buffer.size());
  if (writeConfig && writeFirmware) {
    std::memcpy(out, image.data, image.length);
    std::memcpy(out, config128, kConfigAreaSize128);
  } else if (writeConfig) {
    if (!ReadWhole(devicePath, path, out, length)) return 0;
    std::memcpy(out, config128, kConfigAreaSize128);
  } else {
    HeapBuffer head(kDeviceHeadLength);
    if (!head.valid() || !ReadHead(devicePath, path, head.data())) return 0;
    if (IsBlankBuffer(head.data(), kDeviceHeadLength) ||
        !HasValidMark(head.data() + kHeaderMarkOffset)) {
      std::memcpy(out, image.data, image.length);
    } else {
      // The device's configuration area stays; the firmware follows it.
      std::memcpy(out, head.data(), kConfigAreaSize128);
      if (image.length > kConfigAreaSize128)
        std::memcpy(out + kConfigAreaSize128, image.data + kConfigAreaSize128,
                    image.length - kConfigAreaSize128);
    }
  }
  if (writeConfig) std::memcpy(out + kOptionOffset, option4, kOptionBytes);
  return 1;
}

// The flags and sources every image builder needs before it reads or
// writes anything.
bool BuilderArguments(bool writeConfig, bool writeFirmware, const uint8_t* config,
                      const LoadedImage& image) {
  if (!writeConfig && !writeFirmware) return false;
  if (writeConfig && !config) return false;
  return !writeFirmware || image.loaded();
}

template <class Program>
int ProgramHeaderImage(const char* devicePath, ReadPath path, bool writeConfig,
                       bool writeFirmware, const uint8_t* config128, const uint8_t* option4,
                       const LoadedImage& image, Program program) {
  if (!BuilderArguments(writeConfig, writeFirmware, config128, image)) return 0;
  if (writeConfig && !option4) return 0;
  const uint32_t length = std::max(image.loaded() ? image.length : kNoImageLength,
                                   kOptionOffset + static_cast<uint32_t>(kOptionBytes));
  HeapBuffer buffer(length);
  if (!buffer.valid()) return 0;
  if (!BuildHeaderImage(devicePath, path, writeConfig, writeFirmware, config128, option4, image,
                        buffer))
    return 0;
  return program(buffer.data(), length);
}

int ProgramCrcImage(const char* devicePath, bool writeConfig, bool writeFirmware,
                    const uint8_t* config256, const LoadedImage& image, bool extended) {
  if (!BuilderArguments(writeConfig, writeFirmware, config256, image)) return 0;
  const uint32_t length = std::max(image.loaded() ? image.length : kNoImageLength,
                                   extended ? kCrcExtImageMinimum : kCrcImageMinimum);
  HeapBuffer buffer(length);
  if (!buffer.valid()) return 0;
  uint8_t* out = buffer.data();

  if (writeConfig && writeFirmware) {
    std::memcpy(out, image.data, image.length);
    std::memcpy(out + kCrcConfigArea, config256, kConfigAreaSize256);
  } else if (writeConfig) {
    if (!ReadFlashChunked(devicePath, 0, out, length)) return 0;
    std::memcpy(out + kCrcConfigArea, config256, kConfigAreaSize256);
  } else {
    // The device's 4 KB at 0xC000 are read apart: the image may end at 0xC100.
    HeapBuffer head(kDeviceHeadLength);
    if (!head.valid() || !ReadFlashChunked(devicePath, kCrcConfigArea, head.data(),
                                           kDeviceHeadLength))
      return 0;
    const uint8_t* mark = head.data() + (kCrcConfigMark - kCrcConfigArea);
    if (IsBlankBuffer(head.data(), kDeviceHeadLength) || !HasValidMark(mark)) {
      std::memcpy(out, image.data, image.length);
    } else {
      std::memcpy(out + kCrcConfigArea, head.data(),
                  std::min(kDeviceHeadLength, length - kCrcConfigArea));
      std::memcpy(out, image.data, std::min(image.length, kCrcFirmwareEnd));
      if (extended && image.length > kCrcExtArea)
        std::memcpy(out + kCrcExtArea, image.data + kCrcExtArea,
                    std::min(kCrcExtAreaSize, image.length - kCrcExtArea));
    }
  }

  const uint16_t crc = Crc16Ccitt(out, kCrcCoveredLength, 0);
  out[kCrcHigh] = static_cast<uint8_t>(crc >> 8);
  out[kCrcLow] = static_cast<uint8_t>(crc);
  return WriteVerifyFlash(devicePath, out, length, true);
}

}  // namespace

uint16_t Crc16Ccitt(const uint8_t* buffer, size_t length, uint16_t init) {
  uint32_t crc = init;
  for (size_t at = 0; at + 4 <= length; at += 4) {
    const uint32_t word = uint32_t{buffer[at]} | uint32_t{buffer[at + 1]} << 8 |
                          uint32_t{buffer[at + 2]} << 16 | uint32_t{buffer[at + 3]} << 24;
    for (int n = 28; n >= 0; n -= 4) {
      const uint32_t t = ((crc >> 12) ^ (word >> n)) & 0xF;
      crc = ((crc << 4) ^ (t << 12) ^ (t << 5) ^ t) & 0xFFFF;
    }
  }
  return static_cast<uint16_t>(crc);
}

uint8_t NextEraseUnit(uint32_t address, uint32_t* chunkLength, uint8_t eraseType,
                      uint32_t* unitsDone, unsigned flashType) {
  uint32_t unit = 0;
  switch (eraseType) {
    case 1: case 4:
      unit = FlashSectorSize(flashType);
      break;
    case 2: case 5:
      unit = FlashBlockSize(flashType);
      break;
    case 3: case 6: case 7:
      return address == 0 ? eraseType : kEraseNone;
    default:
      return kEraseNone;
  }
  uint8_t type = eraseType;
  if (uint64_t{address} >= uint64_t{unit} * *unitsDone) {
    // Counted from flash address 0, so a chunk that starts further up still
    // erases the unit it begins in and ends where that unit ends.
    *unitsDone = address / unit + 1;
  } else {
    type = kEraseNone;
  }
  const uint64_t erasedEnd = uint64_t{unit} * *unitsDone;
  if (uint64_t{address} + *chunkLength >= erasedEnd)
    *chunkLength = static_cast<uint32_t>(erasedEnd - address);
  return type;
}

int ReadFlashChunked(const char* devicePath, uint32_t address, uint8_t* out, uint32_t length) {
  if (length == 0) return 0;
  const uint32_t rounded = RoundUp(length, kDfLengthUnit);
  HeapBuffer buffer(rounded);
  if (!buffer.valid()) return 0;
  for (uint32_t done = 0; done < rounded;) {
    const uint32_t chunk = std::min(kDfMaxChunk, rounded - done);
    if (!WaitFlashReady(devicePath) ||
        !ReadBridgeFlash(devicePath, address + done, buffer.data() + done, chunk))
      return 0;
    done += chunk;
  }
  std::memcpy(out, buffer.data(), length);
  return 1;
}

int WriteBridgeFlashChunked(const char* devicePath, uint32_t address, const uint8_t* data,
                            uint32_t length, uint8_t eraseType, unsigned flashType) {
  if (length == 0 || !data) return 0;
  const uint32_t rounded = RoundUp(length, kDfLengthUnit);
  HeapBuffer buffer(rounded);
  if (!buffer.valid()) return 0;
  std::memcpy(buffer.data(), data, length);
  uint32_t unitsDone = 0;
  for (uint32_t done = 0; done < rounded;) {
    const uint32_t at = address + done;
    uint32_t chunk = std::min(kDfMaxChunk, rounded - done);
    if (at == 0) chunk = std::min(chunk, kDfFirstChunk);
    uint8_t type = NextEraseUnit(at, &chunk, eraseType, &unitsDone, flashType);
    if (at == 0 && flashType == 7 && type != kEraseNone) type |= kEraseFlagFirstChunk;
    if (!WaitFlashReady(devicePath) ||
        !WriteBridgeFlash(devicePath, at, buffer.data() + done, chunk, type))
      return 0;
    done += chunk;
  }
  return 1;
}

int WriteVerifyFlash(const char* devicePath, const uint8_t* image, uint32_t length,
                     bool detectFlash) {
  if (length == 0 || !image) return 0;
  HeapBuffer readBack(length);
  if (!readBack.valid()) return 0;
  (void)WaitFlashReady(devicePath);  // a flash still busy fails the writes below
  const unsigned flashType = WriteVerifyFlashType(devicePath, detectFlash);

  if (flashType == 7) {
    // The first 4 KB once with block erase before the tries; padded, as the
    // image may be shorter.
    HeapBuffer head(kFlashType7HeadLength);
    if (!head.valid()) return 0;
    std::memcpy(head.data(), image, std::min(length, kFlashType7HeadLength));
    (void)WaitFlashReady(devicePath);  // a flash still busy fails the write
    if (WriteBridgeFlash(devicePath, 0, head.data(), kFlashType7HeadLength, kEraseBlock))
      platform::Sleep(kSettleMs);
  }

  const uint8_t eraseTypes[kWriteVerifyTries] = {
      flashType == 9 ? kEraseWhole : kEraseBlock, kEraseWhole, kEraseSector};
  for (uint8_t eraseType : eraseTypes) {
    if (WriteBridgeFlashChunked(devicePath, 0, image, length, eraseType, flashType) &&
        WaitFlashReady(devicePath) && ReadFlashChunked(devicePath, 0, readBack.data(), length) &&
        std::memcmp(readBack.data(), image, length) == 0)
      return 1;
  }
  return 0;
}

int IsBlankBuffer(const uint8_t* buffer, size_t length) {
  return std::all_of(buffer, buffer + length, [](uint8_t b) { return b == 0x00 || b == 0xFF; })
             ? 1
             : 0;
}

int IsRegisterFDB0High(const char* devicePath) {
  uint8_t value[4] = {};
  return ReadBridgeRegister(devicePath, kRegisterFDB0, value, sizeof(value)) &&
                 value[1] >= kFDB0High
             ? 1
             : 0;
}

int ProgramFlashLegacy(const char* devicePath, const uint8_t* image, uint32_t length) {
  if (length == 0 || !image) return 0;
  const uint32_t size = RoundUp(length, kLegacyChunk);
  HeapBuffer readBack(size);
  HeapBuffer copy(size);
  if (!readBack.valid() || !copy.valid()) return 0;
  std::memcpy(copy.data(), image, length);

  for (uint32_t block = 0; block < size; block += kLegacyEraseBlock)
    if (!WaitFlashReady(devicePath) || !FlashEraseBlock(devicePath, block)) return 0;
  if (!ReadSpiFlashChunked(devicePath, 0, readBack.data(), size)) return 0;
  if (!AllErased(readBack.data(), size)) {
    if (!WaitFlashReady(devicePath)) return 0;
    if (FlashEraseChip(devicePath)) {
      platform::Sleep(kSettleMs);
      if (!WaitFlashReady(devicePath) || !ReadSpiFlashChunked(devicePath, 0, readBack.data(), size) ||
          !AllErased(readBack.data(), size))
        return 0;
    }
  }

  for (uint32_t address = 0; address < size; address += kLegacyChunk)
    if (!WaitFlashReady(devicePath) ||
        !FlashWrite(devicePath, address, copy.data() + address, kLegacyChunk))
      return 0;

  platform::Sleep(kSettleMs);
  std::memset(readBack.data(), 0, size);
  if (!WaitFlashReady(devicePath) || !ReadSpiFlashChunked(devicePath, 0, readBack.data(), size)) return 0;
  return std::memcmp(readBack.data(), copy.data(), size) == 0 ? 1 : 0;
}

int ProgramImageWithHeader(const char* devicePath, bool writeConfig, bool writeFirmware,
                           const uint8_t* config128, const uint8_t* option4,
                           const LoadedImage& image) {
  return ProgramHeaderImage(devicePath, ReadPath::kDf, writeConfig, writeFirmware, config128,
                            option4, image, [&](const uint8_t* bytes, uint32_t length) {
                              return WriteVerifyFlash(devicePath, bytes, length,
                                                      IsRegisterFDB0High(devicePath) != 0);
                            });
}

int ProgramImageByPages(const char* devicePath, bool writeConfig, bool writeFirmware,
                        const uint8_t* config128, const uint8_t* option4,
                        const LoadedImage& image) {
  return ProgramHeaderImage(devicePath, ReadPath::kFf04, writeConfig, writeFirmware, config128,
                            option4, image, [&](const uint8_t* bytes, uint32_t length) {
                              return ProgramFlashLegacy(devicePath, bytes, length);
                            });
}

int ProgramImageWithCrc(const char* devicePath, bool writeConfig, bool writeFirmware,
                        const uint8_t* config256, const LoadedImage& image) {
  return ProgramCrcImage(devicePath, writeConfig, writeFirmware, config256, image, false);
}

int ProgramImageWithCrcExt(const char* devicePath, bool writeConfig, bool writeFirmware,
                           const uint8_t* config256, const LoadedImage& image) {
  return ProgramCrcImage(devicePath, writeConfig, writeFirmware, config256, image, true);
}

}  // namespace bridge
