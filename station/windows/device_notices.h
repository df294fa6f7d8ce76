// Device notices of a main window, alike in both programs: the registration
// for the disk interface class and the debounce of arrivals and removals
// through the window's rescan timer.
#pragma once

#include <QWidget>

#include <cstdint>

#include "platform/device_notifications.h"
#include "platform/window_messages.h"

namespace station {

// The window hears disks come and go (volumes it hears unasked); 0 when the
// registration was refused.
platform::DeviceNotifyHandle RegisterDiskNotification(platform::WindowHandle window);

// What a notice meets in the window.
struct NoticeTarget {
  platform::WindowHandle window = 0;
  uintptr_t rescanTimer = 0;
  bool removalActive = false;  // its own products leave: no change to rescan for
  bool runActive = false;
  bool safeRemoveSetting = false;  // MPSafeRemove
  QWidget* resultWindow = nullptr;
  QWidget* start = nullptr;
};

// An arrival or a removal of a device interface or a volume: the result
// window goes (not for a removal with MPSafeRemove), and outside a run START
// is disabled and the rescan armed anew, 1500 ms after an arrival and
// 200 ms after a removal, so that a burst of notices makes one rescan.
void OnDeviceNotice(uintptr_t event, const platform::DeviceBroadcast* header, const NoticeTarget& target);

}  // namespace station
