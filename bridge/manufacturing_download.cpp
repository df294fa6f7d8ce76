#include "bridge/manufacturing_download.h"

#include <algorithm>
#include <cstring>

#include "bridge/chip_identification.h"
#include "bridge/df_flash_programming.h"
#include "bridge/image_crc.h"
#include "bridge/mfg_images.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/heap_buffer.h"

namespace bridge {

using platform::HeapBuffer;

namespace {

// Erase of the whole flash before the product image goes in: a 0xDF write
// of no data with erase type 3.
constexpr uint8_t kEraseTypeWholeFlash = 3;
int EraseWholeFlash(const char* devicePath) {
  return WriteBridgeFlash(devicePath, 0, nullptr, 0, kEraseTypeWholeFlash);
}

// Copies the image into the download buffer: at most `length` bytes, at most
// what the image holds and never past the buffer.
void CopyImage(HeapBuffer& buffer, uint32_t length, const uint8_t* image, size_t imageSize) {
  const size_t n = std::min({size_t{length}, imageSize, buffer.size()});
  if (n != 0) std::memcpy(buffer.data(), image, n);
}

// A capacity that the 512-byte send units cannot cover exactly is refused, so
// no transfer runs past it.
bool SendableCapacity(uint32_t capacity) { return capacity != 0 && capacity % kCapacityUnit == 0; }

// One algorithm for the 1 KB family.
struct OneKFamily {
  uint32_t bootCapacity;
  size_t (*loadMfg)(uint8_t*, size_t, uint32_t, uint32_t, int);
  int mfgCode;
  bool setStatus5;  // QVS884 A1
  bool enPd;
};

size_t Load885(uint8_t* b, size_t s, uint32_t o, uint32_t l, int) { return LoadMfgFirmwareQVS885(b, s, o, l); }
size_t Load884(uint8_t* b, size_t s, uint32_t o, uint32_t l, int c) { return LoadMfgFirmwareQVS884(b, s, o, l, c); }
size_t Load891(uint8_t* b, size_t s, uint32_t o, uint32_t l, int) { return LoadMfgFirmwareQVS891(b, s, o, l); }
size_t Load894(uint8_t* b, size_t s, uint32_t o, uint32_t l, int) { return LoadMfgFirmwareQVS894(b, s, o, l); }

// Sends the MFG image from byte `start` on to buffer 0 in mode 06h.
int StartMfgImage(const char* devicePath, uint32_t start, const HeapBuffer& mfg) {
  if (start >= mfg.size()) return 0;
  return ScsiWriteBuffer(devicePath, kBuffer0, kBufferModeDownloadAndStart, start,
                         mfg.data() + start, static_cast<uint32_t>(mfg.size() - start));
}

int Download1K(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
               const OneKFamily& family, const LoadedImage& image) {
  BufferDescriptor descriptor;
  if (ReadBufferDescriptor(devicePath, kBuffer0, &descriptor) == 0) return 0;
  if (bootRom) {
    if (descriptor.state != kStateBootRom || descriptor.capacity != family.bootCapacity) return 0;
    HeapBuffer mfg(family.bootCapacity);
    if (!mfg.valid()) return 0;
    if (family.loadMfg(mfg.data(), mfg.size(), 0, 0, family.mfgCode) != family.bootCapacity) return 0;
    if (StartMfgImage(devicePath, start, mfg) == 0) return 0;
    platform::Sleep(kMfgStartMs);
    if (family.setStatus5 && SetBridgeStatus5(devicePath, family.enPd ? 1 : 0) == 0) return 0;
    for (int attempt = 0; attempt < kDownloadTries; ++attempt) {
      if (EraseWholeFlash(devicePath) == 0) {
        platform::Sleep(kEraseRetryMs);
        if (EraseWholeFlash(devicePath) == 0) return 0;
      }
      platform::Sleep(kEraseRetryMs);
      if (ReadBufferDescriptor(devicePath, kBuffer0, &descriptor) == 0) return 0;
      if (descriptor.state != kState1KUnits || !SendableCapacity(descriptor.capacity)) return 0;
      HeapBuffer buffer(descriptor.capacity);
      if (!buffer.valid()) return 0;
      CopyImage(buffer, length, image.data, image.data ? image.length : 0);
      if (WriteBufferChunks(devicePath, start, buffer.data(), descriptor.capacity, kChunk1K) != 0)
        return 1;
      platform::DebugTrace("1 KB download: try %d failed\n", attempt + 1);
    }
    return 0;
  }
  if (descriptor.state != kState1KUnits || !SendableCapacity(descriptor.capacity)) return 0;
  HeapBuffer buffer(descriptor.capacity);
  if (!buffer.valid()) return 0;
  CopyImage(buffer, descriptor.capacity, image.data, image.data ? image.length : 0);
  return WriteBufferChunks(devicePath, start, buffer.data(), descriptor.capacity, kChunk1K);
}

// Read-back frame: the descriptor of `bufferId` in `state`, then at most
// `wanted` bytes, bounded by the capacity and by the caller's length.
int ReadBack(const char* devicePath, BufferId bufferId, uint8_t state, uint32_t start, uint8_t* out,
             uint32_t length, uint32_t wanted, uint32_t chunk) {
  BufferDescriptor descriptor;
  if (ReadBufferDescriptor(devicePath, bufferId, &descriptor) == 0 || descriptor.state != state)
    return 0;
  const uint32_t n = std::min({wanted, length, descriptor.capacity});
  if (n == 0) return 0;
  return ReadBufferChunks(devicePath, bufferId, start, out, n, chunk);
}

}  // namespace

int ReadBufferDescriptor(const char* devicePath, BufferId bufferId, BufferDescriptor* descriptor) {
  uint8_t bytes[kBufferDescriptorSize] = {};
  *descriptor = {};
  if (ScsiReadBuffer(devicePath, kBufferModeDescriptor, bufferId, 0, bytes, sizeof bytes) == 0)
    return 0;
  *descriptor = ParseBufferDescriptor(bytes);
  return 1;
}

int WriteBufferChunks(const char* devicePath, uint32_t start, const uint8_t* data, uint32_t length,
                      uint32_t chunk) {
  if (length == 0) return 0;
  for (uint32_t done = 0; done < length; done += chunk) {
    const uint32_t n = std::min(chunk, length - done);
    if (ScsiWriteBuffer(devicePath, kBuffer0, kBufferModeWriteAtOffset, start + done, data + done,
                        n) == 0)
      return 0;
  }
  return 1;
}

int ReadBufferChunks(const char* devicePath, BufferId bufferId, uint32_t start, uint8_t* out,
                     uint32_t length, uint32_t chunk) {
  if (length == 0) return 0;
  for (uint32_t done = 0; done < length; done += chunk) {
    const uint32_t n = std::min(chunk, length - done);
    if (ScsiReadBuffer(devicePath, kBufferModeData, bufferId, start + done, out + done, n) == 0)
      return 0;
  }
  return 1;
}

int DownloadFirmwareQVS87x(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                           bool useFirst, std::span<const uint8_t> firstImage,
                           std::span<const uint8_t> config4K, std::span<const uint8_t> secondImage) {
  const std::span<const uint8_t> image = useFirst ? firstImage : secondImage;
  BufferDescriptor descriptor;
  if (ReadBufferDescriptor(devicePath, kBuffer0, &descriptor) == 0) return 0;
  if (bootRom ? descriptor.state != kStateBootRom || descriptor.capacity != kQvs87xBootCapacity
              : descriptor.state != kState4KUnits)
    return 0;

  // The product image and, where the MFG firmware takes it, the
  // configuration block, in a zeroed buffer of the capacity.
  const auto send = [&](const BufferDescriptor& d, bool withConfig) {
    if (!SendableCapacity(d.capacity)) return 0;
    if (withConfig && (config4K.size() < kConfigBlockSize ||
                       d.capacity < kConfigBlockOffset + kConfigBlockSize))
      return 0;
    HeapBuffer buffer(d.capacity);
    if (!buffer.valid()) return 0;
    CopyImage(buffer, length, image.data(), image.size());
    if (withConfig) std::memcpy(buffer.data() + kConfigBlockOffset, config4K.data(), kConfigBlockSize);
    return WriteBufferChunks(devicePath, start, buffer.data(), d.capacity, kChunk4K);
  };

  if (bootRom) {
    uint8_t chipInfo[kChipInfoLength] = {};
    if (ReadChipInfo(devicePath, chipInfo, sizeof chipInfo) == 0) return 0;
    const int code = Qvs87xMfgCodeFor(chipInfo);
    if (code == 0) return 0;
    HeapBuffer mfg(kQvs87xBootCapacity);
    if (!mfg.valid()) return 0;
    if (LoadMfgFirmwareQVS87x(mfg.data(), mfg.size(), 0, 0, code) != kQvs87xBootCapacity) return 0;
    if (StartMfgImage(devicePath, start, mfg) == 0) return 0;
    platform::Sleep(kQvs87xMfgStartMs);
    for (int attempt = 0; attempt < kDownloadTries; ++attempt) {
      if (EraseWholeFlash(devicePath) == 0) return 0;
      if (ReadBufferDescriptor(devicePath, kBuffer0, &descriptor) == 0) return 0;
      if (descriptor.state != kState4KUnits) return 0;
      if (send(descriptor, true) != 0) return 1;
      platform::DebugTrace("QVS87x download: try %d failed\n", attempt + 1);
    }
    return 0;
  }
  const bool version2 = IsChipInfoVersion2(devicePath) != 0;
  if (version2 && EraseWholeFlash(devicePath) == 0) return 0;
  if (image.empty()) return 0;
  return send(descriptor, version2);
}

int DownloadFirmwareQVS887(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                           const LoadedImage& image) {
  return Download1K(devicePath, start, length, bootRom, {kQvs887BootCapacity, Load885, 0, false, false},
                    image);
}

int DownloadFirmwareQVS884(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                           int revision, bool enPd, const LoadedImage& image) {
  return Download1K(devicePath, start, length, bootRom,
                    {kQvs887BootCapacity, Load884, revision, revision == 2, enPd}, image);
}

int DownloadFirmwareQVS891(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                           const LoadedImage& image) {
  return Download1K(devicePath, start, length, bootRom, {kQvs891BootCapacity, Load891, 0, false, false},
                    image);
}

int DownloadFirmwareQVS894(const char* devicePath, uint32_t start, uint32_t length, bool bootRom,
                           const LoadedImage& image) {
  return Download1K(devicePath, start, length, bootRom, {kQvs891BootCapacity, Load894, 0, false, false},
                    image);
}

int StartManufacturingFirmware(const char* devicePath, unsigned chipType, int revision) {
  BufferDescriptor descriptor;
  if (ReadBufferDescriptor(devicePath, kBuffer0, &descriptor) == 0 ||
      descriptor.state != kStateBootRom) {
    return 0;
  }
  if (chipType >= 21 && chipType <= 24) {
    uint8_t chipInfo[kChipInfoLength] = {};
    if (ReadChipInfo(devicePath, chipInfo, sizeof chipInfo) == 0) return 0;
    const int code = Qvs87xMfgCodeFor(chipInfo);
    HeapBuffer mfg(kQvs87xBootCapacity);
    if (code == 0 || descriptor.capacity != kQvs87xBootCapacity || !mfg.valid() ||
        LoadMfgFirmwareQVS87x(mfg.data(), mfg.size(), 0, 0, code) != kQvs87xBootCapacity ||
        StartMfgImage(devicePath, 0, mfg) == 0) {
      return 0;
    }
    platform::Sleep(kQvs87xMfgStartMs);
    return 1;
  }
  const OneKFamily* family = nullptr;
  const OneKFamily families[] = {
      {kQvs887BootCapacity, Load885, 0, false, false},
      {kQvs887BootCapacity, Load884, revision, false, false},
      {kQvs891BootCapacity, Load891, 0, false, false},
      {kQvs891BootCapacity, Load894, 0, false, false},
  };
  if (chipType >= 25 && chipType <= 28) family = &families[chipType - 25];
  if (family == nullptr || descriptor.capacity != family->bootCapacity) return 0;
  HeapBuffer mfg(family->bootCapacity);
  if (!mfg.valid() ||
      family->loadMfg(mfg.data(), mfg.size(), 0, 0, family->mfgCode) != family->bootCapacity ||
      StartMfgImage(devicePath, 0, mfg) == 0) {
    return 0;
  }
  platform::Sleep(kMfgStartMs);
  return 1;
}

int ReadFirmwareQVS87x(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length) {
  const uint32_t wanted = IsChipInfoVersion2(devicePath) != 0 ? kDualBankImageSize : length;
  return ReadBack(devicePath, kBuffer0, kState4KUnits, start, out, length, wanted, kChunk4K);
}

int ReadFirmwareQVS887(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length) {
  return ReadBack(devicePath, kBuffer0, kState1KUnits, start, out, length, UINT32_MAX, kChunk1K);
}
int ReadFirmwareQVS884(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length) {
  return ReadFirmwareQVS887(devicePath, start, out, length);
}
int ReadFirmwareQVS891(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length) {
  return ReadFirmwareQVS887(devicePath, start, out, length);
}
int ReadFirmwareQVS894(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length) {
  return ReadFirmwareQVS887(devicePath, start, out, length);
}

int ReadFirmwareSingleBank(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length) {
  if (IsChipInfoVersion2(devicePath) != 0) {
    // Read even when the descriptor does not answer; never past the caller's buffer.
    BufferDescriptor descriptor;
    if (ReadBufferDescriptor(devicePath, kBuffer1, &descriptor) != 0 &&
        descriptor.state != kState4KUnits)
      return 0;
    const uint32_t n = std::min<uint32_t>(kDualBankImageSize, length);
    return ReadBufferChunks(devicePath, kBuffer1, start, out, n, kChunk4K);
  }
  return ReadBack(devicePath, kBuffer1, kState4KUnits, start, out, length, UINT32_MAX, kChunk4K);
}

int ReadFirmwareDualBank(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length,
                         bool cloneMark) {
  const BufferId first = cloneMark ? kBuffer0 : kBuffer1;
  const BufferId second = cloneMark ? kBuffer1 : kBuffer0;
  const uint32_t firstRoom = std::min<uint32_t>(length, kBankSize);
  if (ReadBack(devicePath, first, kState4KUnits, start, out, firstRoom, kBankSize, kChunk4K) == 0)
    return 0;
  if (length <= kBankSize) return 0;  // no room for the second bank
  return ReadBack(devicePath, second, kState4KUnits, start, out + kBankSize, length - kBankSize,
                  kBankSize, kChunk4K);
}

int ReadFirmwareBuf1K(const char* devicePath, uint32_t start, uint8_t* out, uint32_t length) {
  return ReadBack(devicePath, kBuffer1, kState1KUnits, start, out, length, UINT32_MAX, kChunk1K);
}

int ReadFirmwareRelayout(const char* devicePath, uint8_t* out) {
  HeapBuffer flash(kRelayoutFlashSize);
  if (!flash.valid()) return 0;
  if (ReadFlashChunked(devicePath, 0, flash.data(), kRelayoutFlashSize) == 0) return 0;
  for (const RelayoutPiece& piece : kRelayoutPieces)
    std::memcpy(out + piece.fileOffset, flash.data() + piece.flashOffset, piece.length);
  return 1;
}

}  // namespace bridge
