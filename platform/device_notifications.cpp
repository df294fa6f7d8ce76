#include "platform/device_notifications.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/device_io.h"

namespace platform {
namespace {

struct Registration {
  WindowHandle window = 0;
  Guid classGuid = {};
};

struct Registrations {
  std::mutex mutex;
  std::map<DeviceNotifyHandle, Registration> byHandle;
  DeviceNotifyHandle next = 1;
};

// Lives until the process ends, as the windows' registry does.
Registrations& TheRegistrations() {
  static Registrations* registrations = new Registrations;
  return *registrations;
}

bool WindowExists(WindowHandle window) {
  const std::vector<WindowHandle> windows = OwnWindows();
  return std::find(windows.begin(), windows.end(), window) != windows.end();
}

}  // namespace

DeviceNotifyHandle RegisterDeviceNotification(WindowHandle window, const DeviceInterfaceFilter* filter,
                                              uint32_t flags) {
  if (!WindowExists(window)) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  if (filter == nullptr || filter->size < kDeviceInterfaceFilterSize ||
      filter->deviceType != kDbtDevtypDeviceInterface || flags != kDeviceNotifyWindowHandle) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  Registrations& r = TheRegistrations();
  std::lock_guard lock(r.mutex);
  const DeviceNotifyHandle handle = r.next++;
  r.byHandle.emplace(handle, Registration{.window = window, .classGuid = filter->classGuid});
  return handle;
}

bool UnregisterDeviceNotification(DeviceNotifyHandle handle) {
  Registrations& r = TheRegistrations();
  std::lock_guard lock(r.mutex);
  return r.byHandle.erase(handle) != 0;
}

void BroadcastDeviceChange(uint32_t event, const DeviceBroadcast* broadcast) {
  std::shared_ptr<const DeviceBroadcast> header;
  if (broadcast) header = std::make_shared<const DeviceBroadcast>(*broadcast);
  std::vector<WindowHandle> recipients;
  if (header && header->deviceType == kDbtDevtypDeviceInterface) {
    // Each registered window once, however often it registered the class.
    Registrations& r = TheRegistrations();
    std::lock_guard lock(r.mutex);
    for (const auto& [handle, reg] : r.byHandle) {
      if (reg.classGuid == header->classGuid &&
          std::find(recipients.begin(), recipients.end(), reg.window) == recipients.end())
        recipients.push_back(reg.window);
    }
  } else if (header && header->deviceType == kDbtDevtypHandle) {
    // Handle notices go to handle registrations, which no window here makes.
  } else {
    recipients = OwnWindows();
  }
  for (const WindowHandle window : recipients)
    DeliverToWindow(window, WindowMessage{.message = kWmDeviceChange, .wParam = event, .broadcast = header});
}

}  // namespace platform
