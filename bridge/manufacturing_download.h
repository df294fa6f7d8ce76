// The newer bridges (ChipTypes 21-28) take firmware through READ/WRITE
// BUFFER: the boot ROM takes a manufacturing (MFG) image into RAM and starts
// it, the MFG firmware then takes the product firmware and writes the flash.
// Here: the buffer descriptor, the downloads and the read-backs. Every
// transfer is bounded by the descriptor's capacity and by the caller's
// buffers, and a failed chunk fails the whole transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bridge/loaded_image.h"
#include "bridge/vendor_commands.h"

namespace bridge {

inline constexpr BufferMode kBufferModeData{0x01};
inline constexpr BufferMode kBufferModeDescriptor{0x03};
inline constexpr BufferMode kBufferModeDownloadAndStart{0x06};
inline constexpr BufferMode kBufferModeWriteAtOffset{0x0E};
inline constexpr BufferId kBuffer0{0};
inline constexpr BufferId kBuffer1{1};

// Bridge states, byte 0 of the descriptor.
inline constexpr uint8_t kStateBootRom = 0xFF;
inline constexpr uint8_t kState4KUnits = 0x0C;  // QVS87x firmware running
inline constexpr uint8_t kState1KUnits = 0x0A;  // QVS887/884/891/894 firmware running

inline constexpr uint32_t kChunk4K = 0x1000;
inline constexpr uint32_t kChunk1K = 0x400;
inline constexpr uint32_t kCapacityUnit = 512;

// The 4-byte answer of READ BUFFER mode 03h.
struct BufferDescriptor {
  uint8_t state = 0;
  uint32_t capacity = 0;  // 24-bit big-endian on the wire
};
inline constexpr uint32_t kBufferDescriptorSize = 4;
constexpr BufferDescriptor ParseBufferDescriptor(const uint8_t (&bytes)[kBufferDescriptorSize]) {
  return {bytes[0], uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3]};
}
// 1 and the descriptor; 0 (and a zero descriptor) when the command fails.
[[nodiscard]] int ReadBufferDescriptor(const char* devicePath, BufferId bufferId,
                                       BufferDescriptor* descriptor);

// Where the MFG firmware of ChipTypes 21-24 takes the 4 KB configuration
// block (its first 24 bytes the standby packet) in buffer 0.
inline constexpr uint32_t kConfigBlockOffset = 0x45000;
inline constexpr uint32_t kConfigBlockSize = 0x1000;

inline constexpr uint32_t kQvs87xBootCapacity = 0x10000;
inline constexpr uint32_t kQvs887BootCapacity = 0xC400;
inline constexpr uint32_t kQvs891BootCapacity = 0x10000;

// Pauses after the MFG image starts, and around the 1 KB family's erase.
inline constexpr uint32_t kQvs87xMfgStartMs = 100;
inline constexpr uint32_t kMfgStartMs = 2000;
inline constexpr uint32_t kEraseRetryMs = 500;
inline constexpr int kDownloadTries = 3;

// Sends `data` (a whole number of 512-byte units) to buffer 0 in mode 0Eh
// chunks at offset start + done; 1 only when every chunk is accepted.
[[nodiscard]] int WriteBufferChunks(const char* devicePath, uint32_t start, const uint8_t* data,
                                    uint32_t length, uint32_t chunk);
// Reads `length` bytes of `bufferId` in mode 01h chunks at start + done; 1
// only when every chunk is read.
[[nodiscard]] int ReadBufferChunks(const char* devicePath, BufferId bufferId, uint32_t start,
                                   uint8_t* out, uint32_t length, uint32_t chunk);

// ChipTypes 21-24. The image is firstImage when useFirst is set, else
// secondImage; at most `length` bytes of it and never past the capacity are
// sent; config4K (kConfigBlockSize bytes) goes to kConfigBlockOffset.
[[nodiscard]] int DownloadFirmwareQVS87x(const char* devicePath, uint32_t start, uint32_t length,
                                         bool bootRom, bool useFirst,
                                         std::span<const uint8_t> firstImage,
                                         std::span<const uint8_t> config4K,
                                         std::span<const uint8_t> secondImage);

// The 1 KB family: the image is the FirmwareImage; bytes past its length go
// as zeros.
[[nodiscard]] int DownloadFirmwareQVS887(const char* devicePath, uint32_t start, uint32_t length,
                                         bool bootRom, const LoadedImage& image);
// revision: 1 = A0, 2 = A1; enPd is the EnPD setting, handed to an A1.
[[nodiscard]] int DownloadFirmwareQVS884(const char* devicePath, uint32_t start, uint32_t length,
                                         bool bootRom, int revision, bool enPd,
                                         const LoadedImage& image);
[[nodiscard]] int DownloadFirmwareQVS891(const char* devicePath, uint32_t start, uint32_t length,
                                         bool bootRom, const LoadedImage& image);
[[nodiscard]] int DownloadFirmwareQVS894(const char* devicePath, uint32_t start, uint32_t length,
                                         bool bootRom, const LoadedImage& image);

// Starts the MFG image that a ChipType 21-28 bridge in its boot ROM takes
// (ChipType 26: `revision` 1 = A0, 2 = A1) and nothing after it; 0 when the
// bridge is not in its boot ROM or has no MFG image here.
[[nodiscard]] int StartManufacturingFirmware(const char* devicePath, unsigned chipType,
                                             int revision);

// Read-backs: at most `length` bytes into `out`, never past the capacity;
// 1 when every chunk was read, 0 when nothing could be read.
[[nodiscard]] int ReadFirmwareQVS87x(const char* devicePath, uint32_t start, uint8_t* out,
                                     uint32_t length);
[[nodiscard]] int ReadFirmwareQVS887(const char* devicePath, uint32_t start, uint8_t* out,
                                     uint32_t length);
[[nodiscard]] int ReadFirmwareQVS884(const char* devicePath, uint32_t start, uint8_t* out,
                                     uint32_t length);
[[nodiscard]] int ReadFirmwareQVS891(const char* devicePath, uint32_t start, uint8_t* out,
                                     uint32_t length);
[[nodiscard]] int ReadFirmwareQVS894(const char* devicePath, uint32_t start, uint8_t* out,
                                     uint32_t length);
[[nodiscard]] int ReadFirmwareSingleBank(const char* devicePath, uint32_t start, uint8_t* out,
                                         uint32_t length);
// Both banks: cloneMark set reads buffer 0 into out and buffer 1 into
// out + 0x20000, clear the other way round; each bank at most 128 KB.
[[nodiscard]] int ReadFirmwareDualBank(const char* devicePath, uint32_t start, uint8_t* out,
                                       uint32_t length, bool cloneMark);
[[nodiscard]] int ReadFirmwareBuf1K(const char* devicePath, uint32_t start, uint8_t* out,
                                    uint32_t length);

// The QVS884 large layout: 80 KB of flash read from 0 and laid out as the
// file image of kRelayoutImageSize bytes (`out` holds that many): file
// 0..0x1FF = flash 0xE00..0xFFF, 0x200..0x3FF = flash 0..0x1FF,
// 0x400..0xC3FF = flash 0x1000..0xCFFF, 0xC400..0xC5FF = flash
// 0xD000..0xD1FF, 0xC600..0x105FF = flash 0x10000..0x13FFF.
inline constexpr uint32_t kRelayoutFlashSize = 0x14000;
inline constexpr uint32_t kRelayoutImageSize = 0x10600;
struct RelayoutPiece {
  uint32_t fileOffset;
  uint32_t flashOffset;
  uint32_t length;
};
inline constexpr RelayoutPiece kRelayoutPieces[] = {
    {0x0000, 0x0E00, 0x200}, {0x0200, 0x0000, 0x200}, {0x0400, 0x1000, 0xC000},
    {0xC400, 0xD000, 0x200}, {0xC600, 0x10000, 0x4000},
};
[[nodiscard]] int ReadFirmwareRelayout(const char* devicePath, uint8_t* out);

}  // namespace bridge
