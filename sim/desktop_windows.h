// The top-level windows of other programs on the desktop: the taskbar, the
// prompts the system shows (a volume it cannot read), and decoys tests add.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace sim {

class DesktopWindows {
 public:
  DesktopWindows();

  platform::WindowId Add(const std::string& className, const std::string& title);
  void List(std::vector<platform::WindowEntry>* out) const;
  // The system's prompt closes on WM_CLOSE; the taskbar ignores it.
  bool Post(platform::WindowId window, uint32_t message, uint32_t* error);

 private:
  mutable std::mutex mutex_;
  std::vector<platform::WindowEntry> windows_;
  platform::WindowId next_ = 0x20010;
};

}  // namespace sim
