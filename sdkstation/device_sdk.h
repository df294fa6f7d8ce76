// The second program's binding of the device library QVFWUpdateDll: the
// table every device call goes through, the device-list buffers handed to
// the library, and the bind and unbind done at start-up and exit.
#pragma once

#include <array>
#include <memory>

#include "platform/module.h"
#include "qvfw/qvfw_api.h"

namespace sdkstation {

// One slot per entry point, empty until a binding fills it.
struct DeviceSdkTable {
#define QV_SLOT(name) name##_t name = nullptr;
  QV_ENTRY_POINTS(QV_SLOT)
#undef QV_SLOT
};

// The process's table (the program has one library and one binding).
DeviceSdkTable& DeviceSdk();

// The module name the binding asks for first, and the file it loads.
inline constexpr char kDeviceSdkModule[] = "QVFWUpdateDll";
inline constexpr char kDeviceSdkFile[] = "QVFWUpdateDll.dll";

// What the platform's loader answers as a handle of -1; handed back as it is.
inline const platform::Module kMinusOneModule = reinterpret_cast<platform::Module>(intptr_t{-1});

// Finds or loads the library and looks its entry points up one after the
// other, in the order the contract lists them. The handle, or null when the
// library or any name is missing: then the module is released and every
// slot is empty, so nothing can be called into the released module.
platform::Module BindDeviceSdk();

// Releases a nonzero handle and empties the table; always true.
[[nodiscard]] bool UnbindDeviceSdk(platform::Module module);

// The 16 buffers of 256 bytes the library writes device paths into,
// zero-filled when made; entry i is device i for the whole station.
class DeviceList {
 public:
  DeviceList();
  char** buffers() { return pointers_.data(); }
  const char* operator[](int i) const { return storage_[static_cast<size_t>(i)].data(); }
  void Clear();

 private:
  std::array<std::array<char, qvfw::kPathCapacity>, qvfw::kMaxDevices> storage_{};
  std::array<char*, qvfw::kMaxDevices> pointers_{};
};

}  // namespace sdkstation
