#include "sim/desktop_windows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

platform::WindowEntry MakeWindow(platform::WindowId id, const std::string& className, const std::string& title) {
  platform::WindowEntry w;
  w.id = id;
  std::snprintf(w.className, sizeof w.className, "%s", className.c_str());
  std::snprintf(w.title, sizeof w.title, "%s", title.c_str());
  return w;
}

}  // namespace

DesktopWindows::DesktopWindows() { windows_.push_back(MakeWindow(0x10002, "Shell_TrayWnd", "")); }

platform::WindowId DesktopWindows::Add(const std::string& className, const std::string& title) {
  std::lock_guard lock(mutex_);
  const platform::WindowId id = next_++;
  windows_.push_back(MakeWindow(id, className, title));
  return id;
}

void DesktopWindows::List(std::vector<platform::WindowEntry>* out) const {
  std::lock_guard lock(mutex_);
  *out = windows_;
}

bool DesktopWindows::Post(platform::WindowId window, uint32_t message, uint32_t* error) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(windows_.begin(), windows_.end(), [&](const auto& w) { return w.id == window; });
  if (window == 0 || it == windows_.end()) {
    *error = platform::kErrorInvalidWindowHandle;
    return false;
  }
  if (message == platform::kWmClose && std::strcmp(it->className, "Shell_TrayWnd") != 0) windows_.erase(it);
  return true;
}

}  // namespace sim
