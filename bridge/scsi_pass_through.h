// SCSI pass-through transport: one CDB plus an optional data buffer, sent to
// the storage device a bridge presents. Knows nothing of the command set; it
// picks the direction, the time-out and the buffer, and answers 1 or 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/device_io.h"

namespace bridge {

// Seconds a data-in command and every handle-form command may take. Set once
// at start-up from the settings, before any worker runs; default 10.
[[nodiscard]] int SCSITimeout();
void SetSCSITimeout(int seconds);

// Time-outs of the path-form data-out commands, which do not follow
// SCSITimeout: whole-flash erases get the long one.
inline constexpr uint32_t kWholeFlashEraseTimeoutSeconds = 100;
inline constexpr uint32_t kDataOutTimeoutSeconds = 50;

// Both the request header block and the data buffer of the path form sit on
// 8 KB boundaries for the direct transfer.
inline constexpr size_t kTransferAlignment = 8192;
inline constexpr size_t kRequestBlockSize = 1068;

// size + alignment zeroed heap bytes, or null when the heap refuses.
void* AllocAlignedBuffer(size_t size, size_t alignment);
// Rounds `pointer` up to the next multiple of `alignment` (a power of two).
void* AlignBuffer(void* pointer, size_t alignment);
// Frees what AllocAlignedBuffer returned; null is ignored.
void FreeAlignedBuffer(void* pointer);

// Path forms: open the device (read/write, shared), send, close. The data
// passes through a private aligned buffer. `bytesMoved` (may be null)
// receives the transfer length the platform returned, also on failure.
// Success: the request was carried out, the last-error code is 0 and the
// device answered GOOD. On failure the caller's buffer still receives what
// the transfer left in the zeroed private buffer.
[[nodiscard]] int ScsiPassThroughIn(const char* devicePath, const uint8_t* cdb, uint8_t cdbLength,
                                    void* data, uint32_t length, uint32_t* bytesMoved);
[[nodiscard]] int ScsiPassThroughOut(const char* devicePath, const uint8_t* cdb, uint8_t cdbLength,
                                     const void* data, uint32_t length, uint32_t* bytesMoved);

// Handle forms, for a caller that keeps the device open around a series of
// commands: data moves straight from or into the caller's buffer, and the
// time-out is SCSITimeout both ways. Success: the request was carried out and
// the device answered GOOD.
[[nodiscard]] int ScsiPassThroughInHandle(platform::Handle device, const uint8_t* cdb,
                                          uint8_t cdbLength, void* data, uint32_t length,
                                          uint32_t* bytesMoved);
[[nodiscard]] int ScsiPassThroughOutHandle(platform::Handle device, const uint8_t* cdb,
                                           uint8_t cdbLength, const void* data, uint32_t length,
                                           uint32_t* bytesMoved);

// Device type, device number and partition number of the storage device.
[[nodiscard]] int GetStorageDeviceNumber(const char* devicePath,
                                         platform::StorageDeviceNumber* number);

}  // namespace bridge
