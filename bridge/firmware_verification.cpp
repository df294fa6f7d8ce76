#include "bridge/firmware_verification.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "bridge/df_flash_programming.h"
#include "bridge/ff04_flash_programming.h"
#include "bridge/manufacturing_download.h"
#include "bridge/vendor_commands.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/heap_buffer.h"

namespace bridge {

using platform::HeapBuffer;

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The file and the device image, both zeroed, the file read in (at most
// the buffer) and closed.
struct Images {
  HeapBuffer file;
  HeapBuffer device;
  uint32_t length = 0;  // file bytes held
  explicit Images(size_t size) : file(size), device(size) {}
  bool valid() const { return file.valid() && device.valid(); }
};

// Opens the file and reads what the layout needs; null on any failure or a
// length outside the layout's limits.
std::unique_ptr<Images> LoadFile(const char* fileName, const VerifyLayout& layout) {
  if (fileName == nullptr) return nullptr;
  std::unique_ptr<std::FILE, FileCloser> file(platform::OpenRegularFileForReading(fileName));
  if (!file) return nullptr;
  const uint64_t length = GetFileLength(file.get());
  if (layout.maxFile != 0 && length > layout.maxFile) return nullptr;
  const size_t size = layout.bufferSize != 0 ? layout.bufferSize : static_cast<size_t>(length);
  if (size == 0) return nullptr;
  auto images = std::make_unique<Images>(size);
  if (!images->valid()) return nullptr;
  const size_t got = std::fread(images->file.data(), 1, size, file.get());
  if (got < layout.minFile) return nullptr;
  images->length = static_cast<uint32_t>(got);
  return images;
}

bool Skipped(const VerifyLayout& layout, uint32_t i) {
  for (size_t k = 0; k < layout.skipCount; ++k)
    if (i >= layout.skips[k].first && i <= layout.skips[k].last) return true;
  return false;
}

int VerifyBuf1K(const char* devicePath, const char* fileName, const VerifyLayout& layout) {
  const auto images = LoadFile(fileName, layout);
  if (!images) return 0;
  if (ReadFirmwareBuf1K(devicePath, 0, images->device.data(),
                        static_cast<uint32_t>(images->device.size())) == 0)
    return 0;
  return CompareWithLayout(layout, images->file.data(), images->device.data(), images->length);
}

constexpr uint32_t kCloneMarkOffset = 0x430;
constexpr size_t kCloneMarkField = 16;

}  // namespace

int CompareWithLayout(const VerifyLayout& layout, const uint8_t* file, const uint8_t* device,
                      uint32_t length) {
  const uint32_t end = layout.compareEnd != 0 ? std::min(layout.compareEnd, length) : length;
  for (uint32_t i = layout.compareStart; i < end; ++i) {
    if (Skipped(layout, i)) continue;
    if (file[i] != device[i]) return 0;
  }
  return 1;
}

uint64_t GetFileLength(std::FILE* file) {
  const long position = std::ftell(file);
  if (position < 0 || std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long length = std::ftell(file);
  std::fseek(file, position, SEEK_SET);
  return length < 0 ? 0 : static_cast<uint64_t>(length);
}

int VerifyFlash32K(const char* devicePath, const char* firmwareFileName) {
  const auto images = LoadFile(firmwareFileName, kVerifyFlash32K);
  if (!images) return 0;
  constexpr int kStatusWaits = 502;
  for (int wait = 0; wait < kStatusWaits; ++wait) {
    uint8_t status = 0;
    if (FlashReadStatus(devicePath, &status) != 0 && (status & 1) == 0) break;
    platform::Sleep(10);
  }
  constexpr uint32_t kHalf = 0x4000;
  if (FlashRead(devicePath, 0, images->device.data(), kHalf) == 0 ||
      FlashRead(devicePath, kHalf, images->device.data() + kHalf, kHalf) == 0)
    return 0;
  return CompareWithLayout(kVerifyFlash32K, images->file.data(), images->device.data(), images->length);
}

int VerifyFlashOtherFamily(const char* devicePath, const char* firmwareFileName) {
  const auto images = LoadFile(firmwareFileName, kVerifyOtherFamily);
  if (!images) return 0;
  if (FlashCmd05(devicePath) == 0) return 0;
  if (FlashRead32(devicePath, 0, images->device.data(), images->length) <= 0) return 0;
  return CompareWithLayout(kVerifyOtherFamily, images->file.data(), images->device.data(), images->length);
}

int VerifyFlashSkipHeader(const char* devicePath, const char* firmwareFileName, SkipHeaderReader reader) {
  const auto images = LoadFile(firmwareFileName, kVerifySkipHeader);
  if (!images) return 0;
  (void)WaitFlashReady(devicePath);  // a flash still busy fails the read
  // The header-keeping route puts a bare image (no header block of its own)
  // behind the device's header block: compare it where it was written.
  const bool ff04 = reader == SkipHeaderReader::kFf04;
  const uint32_t at = ff04 && !HasHeaderBlock(images->file.data(), images->length) ? kHeaderBlockSize : 0;
  const int read = ff04 ? ReadSpiFlashChunked(devicePath, at, images->device.data(), images->length)
                        : ReadFlashChunked(devicePath, 0, images->device.data(), images->length);
  if (read == 0) return 0;
  return CompareWithLayout(kVerifySkipHeader, images->file.data(), images->device.data(), images->length);
}

int VerifyFlashWithCrc(const char* devicePath, const char* firmwareFileName) {
  const auto images = LoadFile(firmwareFileName, kVerifyWithCrc);
  if (!images) return 0;
  (void)WaitFlashReady(devicePath);  // a flash still busy fails the read
  if (ReadFlashChunked(devicePath, 0, images->device.data(), kCrcFirmwareEnd) == 0) return 0;
  const uint16_t crc = Crc16Ccitt(images->file.data(), kCrcCoveredLength, 0);
  const uint8_t* flash = images->device.data();
  if ((uint16_t{flash[kCrcHigh]} << 8 | flash[kCrcLow]) != crc) return 0;
  return CompareWithLayout(kVerifyWithCrc, images->file.data(), flash, images->length);
}

int VerifyFirmwareQVS87x(const char* devicePath, const char* firmwareFileName, bool cloneProduct) {
  const VerifyLayout& layout = cloneProduct ? kVerifyQvs87xDual : kVerifyQvs87xSingle;
  const auto images = LoadFile(firmwareFileName, layout);
  if (!images) return 0;
  const auto size = static_cast<uint32_t>(images->device.size());
  if (cloneProduct) {
    bool cloneMark = false;
    uint8_t head[0x1000] = {};
    if (ScsiReadBuffer(devicePath, kBufferModeData, kBuffer1, 0, head, sizeof head) != 0) {
      const auto* field = reinterpret_cast<const char*>(head + kCloneMarkOffset);
      const std::string_view text(field, strnlen(field, kCloneMarkField));
      cloneMark = text.find("CLONE") != std::string_view::npos;
    }
    if (ReadFirmwareDualBank(devicePath, 0, images->device.data(), size, cloneMark) == 0) return 0;
  } else if (ReadFirmwareSingleBank(devicePath, 0, images->device.data(), size) == 0) {
    return 0;
  }
  return CompareWithLayout(layout, images->file.data(), images->device.data(), images->length);
}

int VerifyFirmwareQVS887(const char* devicePath, const char* firmwareFileName) {
  return VerifyBuf1K(devicePath, firmwareFileName, kVerifyQvs887);
}

int VerifyFirmwareQVS884(const char* devicePath, const char* firmwareFileName, int revision) {
  uint8_t status = 0;
  const bool large = revision == 2 && ReadBridgeStatus0(devicePath, &status) != 0 && (status & 0x10) != 0;
  if (!large) return VerifyBuf1K(devicePath, firmwareFileName, kVerifyQvs884);
  const auto images = LoadFile(firmwareFileName, kVerifyQvs884Large);
  if (!images || images->device.size() < kRelayoutImageSize) return 0;
  if (ReadFirmwareRelayout(devicePath, images->device.data()) == 0) return 0;
  return CompareWithLayout(kVerifyQvs884Large, images->file.data(), images->device.data(), images->length);
}

int VerifyFirmwareQVS891(const char* devicePath, const char* firmwareFileName) {
  return VerifyBuf1K(devicePath, firmwareFileName, kVerifyQvs891);
}

int VerifyFirmwareQVS894(const char* devicePath, const char* firmwareFileName) {
  return VerifyBuf1K(devicePath, firmwareFileName, kVerifyQvs894);
}

int VerifyFirmwareWithFile(const char* devicePath, const char* firmwareFileName, unsigned chipType,
                           int revision, bool cloneProduct) {
  switch (chipType) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 15: case 16: case 18:
      return VerifyFlash32K(devicePath, firmwareFileName);
    case 29: case 34:
      return VerifyFlashOtherFamily(devicePath, firmwareFileName);
    case 9:
      return VerifyFlashSkipHeader(devicePath, firmwareFileName, SkipHeaderReader::kFf04);
    case 11: case 12: case 13:
      return VerifyFlashSkipHeader(devicePath, firmwareFileName, SkipHeaderReader::kDf);
    case 19: case 20:
      return VerifyFlashWithCrc(devicePath, firmwareFileName);
    case 21: case 22: case 23: case 24:
      return VerifyFirmwareQVS87x(devicePath, firmwareFileName, cloneProduct);
    case 25:
      return VerifyFirmwareQVS887(devicePath, firmwareFileName);
    case 26:
      return VerifyFirmwareQVS884(devicePath, firmwareFileName, revision);
    case 27:
      return VerifyFirmwareQVS891(devicePath, firmwareFileName);
    case 28:
      return VerifyFirmwareQVS894(devicePath, firmwareFileName);
    default:
      return 0;
  }
}

}  // namespace bridge
