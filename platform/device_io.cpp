#include "platform/device_io.h"

#include "platform/backend.h"

namespace platform {
namespace {
thread_local uint32_t t_lastError = kErrorSuccess;
}

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t error) { t_lastError = error; }

Handle OpenDevice(const char* path, uint32_t access, uint32_t share) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  uint32_t error = kErrorSuccess;
  Handle handle = CurrentBackend().OpenDevice(path, access, share, &error);
  SetLastError(handle == kInvalidHandle ? (error ? error : kErrorGenFailure) : kErrorSuccess);
  return handle;
}

void CloseDevice(Handle handle) {
  if (handle == kInvalidHandle) return;
  if (handle->owner == nullptr) {
    delete handle;  // the platform's own (a host file)
    return;
  }
  handle->owner->CloseDevice(handle);
}

bool DeviceIoControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* returned) {
  uint32_t dummy = 0;
  uint32_t& moved = returned ? *returned : dummy;
  moved = 0;
  if (handle == kInvalidHandle) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (handle->owner == nullptr || handle->kind != HandleKind::Device) {
    SetLastError(1);  // ERROR_INVALID_FUNCTION: a file or process takes no control requests
    return false;
  }
  uint32_t error = kErrorSuccess;
  const bool ok = handle->owner->DeviceIoControl(handle, code, in, inSize, out, outSize, &moved, &error);
  SetLastError(ok ? kErrorSuccess : (error ? error : kErrorGenFailure));
  return ok;
}

}  // namespace platform
