// Device handles, control requests and the last-error code: the seam through
// which every bridge and disk command leaves the process. Which backend
// answers is chosen in backend_select.cpp, nowhere else.
#pragma once

#include <cstdint>

namespace platform {

class Backend;

// An open device. Backends derive their own handle objects from it; the
// handle is the object, so a command needs no table lookup and no lock.
// What a handle is: a device (disk, volume, hub), a file of the host (the
// platform's own, no owner), a process the backend started or a thread of
// this process (the platform's own).
enum class HandleKind : uint8_t { Device, File, Process, Thread };
struct HandleObject {
  explicit HandleObject(Backend* owner, HandleKind kind = HandleKind::Device)
      : owner(owner), kind(kind) {}
  virtual ~HandleObject() = default;
  HandleObject(const HandleObject&) = delete;
  HandleObject& operator=(const HandleObject&) = delete;
  Backend* const owner;
  const HandleKind kind;
  // ReadFile/WriteFile position of a device handle, in bytes.
  uint64_t filePointer = 0;
};
using Handle = HandleObject*;
inline constexpr Handle kInvalidHandle = nullptr;

// Access rights and sharing of OpenDevice.
inline constexpr uint32_t kAccessNone = 0;
inline constexpr uint32_t kAccessRead = 0x80000000u;
inline constexpr uint32_t kAccessWrite = 0x40000000u;
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;

// Last-error codes the layer reports.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// Control codes.
inline constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
inline constexpr uint32_t kIoctlStorageGetDeviceNumber = 0x2D1080;

// Data direction of a pass-through request.
inline constexpr uint8_t kScsiDataOut = 0;
inline constexpr uint8_t kScsiDataIn = 1;

// SCSI status bytes.
inline constexpr uint8_t kScsiStatusGood = 0x00;
inline constexpr uint8_t kScsiStatusCheckCondition = 0x02;

// The direct pass-through request header. Length carries the header length
// the request declares (44); the buffer handed to DeviceIoControl is the
// whole struct, sizeof(ScsiPassThroughDirect) each way.
struct ScsiPassThroughDirect {
  uint16_t Length;
  uint8_t ScsiStatus;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t CdbLength;
  uint8_t SenseInfoLength;
  uint8_t DataIn;
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;
  void* DataBuffer;
  uint32_t SenseInfoOffset;
  uint8_t Cdb[16];
};
inline constexpr uint16_t kScsiPassThroughDirectLength = 44;

struct StorageDeviceNumber {
  uint32_t DeviceType;
  uint32_t DeviceNumber;
  uint32_t PartitionNumber;
};
static_assert(sizeof(StorageDeviceNumber) == 12);

inline constexpr uint32_t kFileDeviceDisk = 7;
inline constexpr uint32_t kFileDeviceCdRom = 2;

// Opens an existing device by its interface path. Returns kInvalidHandle and
// sets the last-error code when the path names no device or cannot be opened.
Handle OpenDevice(const char* path, uint32_t access, uint32_t share);
void CloseDevice(Handle handle);

// Sends one control request. Returns true when the request was carried out;
// the last-error code says why not. `returned` may be null.
[[nodiscard]] bool DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                                   void* out, uint32_t outSize, uint32_t* returned);

// Per-thread, like the platform's own.
[[nodiscard]] uint32_t GetLastError();
void SetLastError(uint32_t error);

// Closes a handle when it leaves scope.
class ScopedDevice {
 public:
  ScopedDevice(const char* path, uint32_t access, uint32_t share)
      : handle_(OpenDevice(path, access, share)) {}
  ~ScopedDevice() { CloseDevice(handle_); }
  ScopedDevice(const ScopedDevice&) = delete;
  ScopedDevice& operator=(const ScopedDevice&) = delete;
  Handle get() const { return handle_; }
  bool valid() const { return handle_ != kInvalidHandle; }

 private:
  Handle handle_;
};

}  // namespace platform
