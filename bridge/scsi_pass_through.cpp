#include "bridge/scsi_pass_through.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/heap_buffer.h"
#include "platform/memory.h"

namespace bridge {
namespace {

using platform::ScsiPassThroughDirect;

std::atomic<int> g_scsiTimeout{10};

static_assert(sizeof(ScsiPassThroughDirect) <= kRequestBlockSize);

constexpr uint32_t kOpenAccess = platform::kAccessRead | platform::kAccessWrite;
constexpr uint32_t kOpenShare = platform::kShareRead | platform::kShareWrite;
constexpr uint8_t kTargetId = 1;
constexpr uint32_t kSenseInfoOffset = 48;
constexpr size_t kMaxCdbLength = sizeof(ScsiPassThroughDirect::Cdb);

// CDB bytes that mark a whole-flash erase: FF 04 13, and the DF write with
// erase type 3.
constexpr size_t kEraseSubOpByte = 2;
constexpr uint8_t kEraseChipSubOp = 0x13;
constexpr size_t kDfSubCommandByte = 11;
constexpr uint8_t kDfWriteFlash = 0xFB;
constexpr size_t kDfDirectionByte = 1;
constexpr uint8_t kEraseWholeFlash = 3;

// Many bridges drop a one-byte transfer; one byte goes out as two.
constexpr uint32_t WireLength(uint32_t length) { return length == 1 ? 2 : length; }

void Store(uint32_t* out, uint32_t value) {
  if (out != nullptr) *out = value;
}

bool ValidCommand(const uint8_t* cdb, uint8_t cdbLength, const void* data, uint32_t length) {
  return cdb != nullptr && cdbLength > 0 && cdbLength <= kMaxCdbLength &&
         (length == 0 || data != nullptr);
}

ScsiPassThroughDirect& FillRequest(void* block, const uint8_t* cdb, uint8_t cdbLength,
                                   uint8_t dataIn, uint32_t wireLength, uint32_t timeout,
                                   void* buffer) {
  auto* request = new (block) ScsiPassThroughDirect{};
  request->Length = platform::kScsiPassThroughDirectLength;
  request->TargetId = kTargetId;
  request->CdbLength = cdbLength;
  request->DataIn = dataIn;
  request->DataTransferLength = wireLength;
  request->TimeOutValue = timeout;
  request->DataBuffer = wireLength ? buffer : nullptr;
  request->SenseInfoOffset = kSenseInfoOffset;
  std::memcpy(request->Cdb, cdb, cdbLength);
  return *request;
}

// Reads the whole request's zero-padded CDB, so short CDBs never match on
// bytes they do not have.
uint32_t DataOutTimeout(const ScsiPassThroughDirect& request) {
  const uint8_t* cdb = request.Cdb;
  if (cdb[kEraseSubOpByte] == kEraseChipSubOp) return kWholeFlashEraseTimeoutSeconds;
  if (cdb[kDfSubCommandByte] == kDfWriteFlash && cdb[kDfDirectionByte] == kEraseWholeFlash)
    return kWholeFlashEraseTimeoutSeconds;
  return kDataOutTimeoutSeconds;
}

bool Send(platform::Handle device, ScsiPassThroughDirect& request) {
  uint32_t returned = 0;
  return platform::DeviceIoControl(device, platform::kIoctlScsiPassThroughDirect, &request,
                                   sizeof(request), &request, sizeof(request), &returned);
}

uint32_t TimeoutSeconds() { return static_cast<uint32_t>(SCSITimeout()); }

int PathForm(const char* devicePath, const uint8_t* cdb, uint8_t cdbLength, uint8_t dataIn,
             void* inData, const void* outData, uint32_t length, uint32_t* bytesMoved) {
  Store(bytesMoved, 0);
  if (!ValidCommand(cdb, cdbLength, dataIn ? inData : outData, length)) return 0;

  platform::ScopedDevice device(devicePath, kOpenAccess, kOpenShare);
  if (!device.valid()) return 0;

  const uint32_t wireLength = WireLength(length);
  platform::HeapBuffer header(kRequestBlockSize, kTransferAlignment);
  platform::HeapBuffer buffer(wireLength, kTransferAlignment);
  if (!header.valid() || (wireLength != 0 && !buffer.valid())) return 0;

  ScsiPassThroughDirect& request =
      FillRequest(header.data(), cdb, cdbLength, dataIn, wireLength, 0, buffer.data());
  if (dataIn) {
    request.TimeOutValue = TimeoutSeconds();
  } else {
    request.TimeOutValue = DataOutTimeout(request);
    if (length > 0) std::memcpy(buffer.data(), outData, length);
  }

  const bool carriedOut = Send(device.get(), request);
  const uint32_t lastError = platform::GetLastError();
  if (dataIn && length > 0) std::memcpy(inData, buffer.data(), length);
  Store(bytesMoved, request.DataTransferLength);
  return carriedOut && lastError == platform::kErrorSuccess &&
                 request.ScsiStatus == platform::kScsiStatusGood
             ? 1
             : 0;
}

int HandleForm(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength, uint8_t dataIn,
               void* inData, const void* outData, uint32_t length, uint32_t* bytesMoved) {
  Store(bytesMoved, 0);
  const void* callerData = dataIn ? inData : outData;
  if (!ValidCommand(cdb, cdbLength, callerData, length)) return 0;

  // No alignment here: the data moves straight from or into the caller's buffer.
  platform::HeapBuffer header(kRequestBlockSize);
  if (!header.valid()) return 0;

  uint8_t pair[2] = {};
  void* buffer = const_cast<void*>(callerData);
  if (length == 1) {
    if (!dataIn) pair[0] = *static_cast<const uint8_t*>(outData);
    buffer = pair;
  }
  ScsiPassThroughDirect& request = FillRequest(header.data(), cdb, cdbLength, dataIn,
                                               WireLength(length), TimeoutSeconds(), buffer);

  const bool carriedOut = Send(device, request);
  if (dataIn && length == 1) *static_cast<uint8_t*>(inData) = pair[0];
  Store(bytesMoved, request.DataTransferLength);
  return carriedOut && request.ScsiStatus == platform::kScsiStatusGood ? 1 : 0;
}

}  // namespace

int SCSITimeout() { return g_scsiTimeout.load(std::memory_order_relaxed); }
void SetSCSITimeout(int seconds) { g_scsiTimeout.store(seconds, std::memory_order_relaxed); }

void* AllocAlignedBuffer(size_t size, size_t alignment) {
  if (size > SIZE_MAX - alignment) return nullptr;
  return platform::HeapAllocZeroed(size + alignment);
}

void* AlignBuffer(void* pointer, size_t alignment) { return platform::AlignUp(pointer, alignment); }

void FreeAlignedBuffer(void* pointer) {
  if (pointer != nullptr) platform::HeapFree(pointer);
}

int ScsiPassThroughIn(const char* devicePath, const uint8_t* cdb, uint8_t cdbLength, void* data,
                      uint32_t length, uint32_t* bytesMoved) {
  return PathForm(devicePath, cdb, cdbLength, platform::kScsiDataIn, data, nullptr, length,
                  bytesMoved);
}

int ScsiPassThroughOut(const char* devicePath, const uint8_t* cdb, uint8_t cdbLength,
                       const void* data, uint32_t length, uint32_t* bytesMoved) {
  return PathForm(devicePath, cdb, cdbLength, platform::kScsiDataOut, nullptr, data, length,
                  bytesMoved);
}

int ScsiPassThroughInHandle(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength,
                            void* data, uint32_t length, uint32_t* bytesMoved) {
  return HandleForm(device, cdb, cdbLength, platform::kScsiDataIn, data, nullptr, length,
                    bytesMoved);
}

int ScsiPassThroughOutHandle(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength,
                             const void* data, uint32_t length, uint32_t* bytesMoved) {
  return HandleForm(device, cdb, cdbLength, platform::kScsiDataOut, nullptr, data, length,
                    bytesMoved);
}

int GetStorageDeviceNumber(const char* devicePath, platform::StorageDeviceNumber* number) {
  if (number == nullptr) return 0;
  platform::ScopedDevice device(devicePath, platform::kAccessNone, kOpenShare);
  if (!device.valid()) return 0;
  uint32_t returned = 0;
  const bool carriedOut =
      platform::DeviceIoControl(device.get(), platform::kIoctlStorageGetDeviceNumber, nullptr, 0,
                                number, sizeof(*number), &returned);
  const uint32_t lastError = platform::GetLastError();
  return carriedOut && lastError == platform::kErrorSuccess ? 1 : 0;
}

}  // namespace bridge
