// Device-change notices: the system tells the windows of this process when
// devices, interfaces and volumes come and go (WM_DEVICECHANGE with an event
// code and a header). Volume and port notices reach every window; notices of
// a device interface only the windows registered for its class.
#pragma once

#include <cstdint>
#include <string>

#include "platform/device_setup.h"
#include "platform/window_messages.h"

namespace platform {

// Event codes (the first message parameter).
inline constexpr uint32_t kDbtDevNodesChanged = 0x0007;  // no header
inline constexpr uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr uint32_t kDbtDeviceQueryRemove = 0x8001;
inline constexpr uint32_t kDbtDeviceRemovePending = 0x8003;
inline constexpr uint32_t kDbtDeviceRemoveComplete = 0x8004;

// Kinds of header.
inline constexpr uint32_t kDbtDevtypOem = 0;
inline constexpr uint32_t kDbtDevtypVolume = 2;
inline constexpr uint32_t kDbtDevtypPort = 3;
inline constexpr uint32_t kDbtDevtypDeviceInterface = 5;
inline constexpr uint32_t kDbtDevtypHandle = 6;

// Interface classes the system announces beside the disk's.
inline constexpr Guid kGuidDevInterfaceUsbDevice = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
inline constexpr Guid kGuidDevInterfaceVolume = {0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// The header of a notice.
struct DeviceBroadcast {
  uint32_t deviceType = kDbtDevtypOem;
  // A device interface: its class and path. A port: its name.
  Guid classGuid = {};
  std::string name;
  // A volume: its drive letters (bit 0 = A:) and flags.
  uint32_t unitMask = 0;
  uint16_t flags = 0;
};

// What a window registers for: the interfaces of one class.
inline constexpr uint32_t kDeviceInterfaceFilterSize = 32;
struct DeviceInterfaceFilter {
  uint32_t size = kDeviceInterfaceFilterSize;
  uint32_t deviceType = kDbtDevtypDeviceInterface;
  Guid classGuid = {};
};

// The recipient is a window (the only kind there is here).
inline constexpr uint32_t kDeviceNotifyWindowHandle = 0;

// 0 is no registration.
using DeviceNotifyHandle = uintptr_t;

// Registers `window` for the notices of the filter's interface class.
// Returns 0 with the last error kErrorInvalidWindowHandle for a window that
// does not exist, kErrorInvalidParameter for a filter that is not a device
// interface filter of its size or for other flags.
DeviceNotifyHandle RegisterDeviceNotification(WindowHandle window, const DeviceInterfaceFilter* filter,
                                              uint32_t flags);
// False for a handle that is not registered (any more).
bool UnregisterDeviceNotification(DeviceNotifyHandle handle);

// ---- The system's side (a backend).

// Sends a notice to the windows that take it (`broadcast` null: a notice
// without header). It arrives on each window's port, in order.
void BroadcastDeviceChange(uint32_t event, const DeviceBroadcast* broadcast);

}  // namespace platform
