#include "station/windows/device_notices.h"

namespace station {
namespace {

constexpr uint32_t kRescanAfterArrivalMs = 1500;
constexpr uint32_t kRescanAfterRemovalMs = 200;

}  // namespace

platform::DeviceNotifyHandle RegisterDiskNotification(platform::WindowHandle window) {
  platform::DeviceInterfaceFilter filter;
  filter.classGuid = platform::kGuidDevInterfaceDisk;
  return platform::RegisterDeviceNotification(window, &filter, platform::kDeviceNotifyWindowHandle);
}

void OnDeviceNotice(uintptr_t event, const platform::DeviceBroadcast* header, const NoticeTarget& t) {
  if (event != platform::kDbtDeviceArrival && event != platform::kDbtDeviceRemoveComplete) return;
  if (t.removalActive) return;
  const bool arrival = event == platform::kDbtDeviceArrival;
  if ((!t.safeRemoveSetting || arrival) && t.resultWindow) t.resultWindow->hide();
  if (t.runActive) return;
  if (header == nullptr || (header->deviceType != platform::kDbtDevtypDeviceInterface &&
                            header->deviceType != platform::kDbtDevtypVolume))
    return;
  // A START inside the debounce would run on the list before the change.
  if (t.start) t.start->setEnabled(false);
  static_cast<void>(platform::KillTimer(t.window, t.rescanTimer));
  static_cast<void>(
      platform::SetTimer(t.window, t.rescanTimer, arrival ? kRescanAfterArrivalMs : kRescanAfterRemovalMs));
}

}  // namespace station
