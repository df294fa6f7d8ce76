// A window of the test registered for disk interface notices, as the
// station's main window registers: what the bench announces reaches it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/device_notifications.h"

namespace sim::testing {

class NoticeWindow {
 public:
  NoticeWindow() {
    platform::DeviceInterfaceFilter filter;
    filter.classGuid = platform::kGuidDevInterfaceDisk;
    handle_ = platform::RegisterDeviceNotification(window_.handle(), &filter, platform::kDeviceNotifyWindowHandle);
    EXPECT_NE(handle_, 0u);
  }
  ~NoticeWindow() { static_cast<void>(platform::UnregisterDeviceNotification(handle_)); }
  NoticeWindow(const NoticeWindow&) = delete;
  NoticeWindow& operator=(const NoticeWindow&) = delete;

  // What arrived, taken: "+disk <path>", "-disk <path>", "+volume E",
  // "-volume E", "tree" (the device tree changed).
  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    platform::WindowMessage m;
    while (window_.Take(&m)) {
      if (m.message != platform::kWmDeviceChange) continue;
      if (!m.broadcast) {
        taken.push_back("tree");
        continue;
      }
      const std::string sign = m.wParam == platform::kDbtDeviceArrival ? "+" : "-";
      if (m.broadcast->deviceType == platform::kDbtDevtypVolume) {
        for (int bit = 0; bit < 26; ++bit)
          if (m.broadcast->unitMask & (1u << bit)) taken.push_back(sign + "volume " + static_cast<char>('A' + bit));
      } else {
        taken.push_back(sign + "disk " + m.broadcast->name);
      }
    }
    return taken;
  }

  platform::MessageWindow& window() { return window_; }

 private:
  platform::MessageWindow window_;
  platform::DeviceNotifyHandle handle_ = 0;
};

}  // namespace sim::testing
