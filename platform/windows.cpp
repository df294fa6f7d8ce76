#include "platform/windows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/backend.h"
#include "platform/device_io.h"

namespace platform {
namespace {

bool Lookup(WindowId window, WindowEntry* out) {
  std::vector<WindowEntry> windows;
  CurrentBackend().ListWindows(&windows);
  for (const WindowEntry& w : windows)
    if (w.id == window && window != 0) {
      *out = w;
      return true;
    }
  SetLastError(kErrorInvalidWindowHandle);
  return false;
}

int Put(const char* text, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const int n = std::min(static_cast<int>(std::strlen(text)), size - 1);
  std::memcpy(buffer, text, static_cast<size_t>(n));
  buffer[n] = '\0';
  return n;
}

}  // namespace

WindowId FindWindow(const char* className, const char* title) {
  std::vector<WindowEntry> windows;
  CurrentBackend().ListWindows(&windows);
  for (const WindowEntry& w : windows) {
    if (className != nullptr && std::strcmp(className, w.className) != 0) continue;
    if (title != nullptr && std::strcmp(title, w.title) != 0) continue;
    return w.id;
  }
  return 0;
}

bool EnumWindows(bool (*callback)(WindowId window, intptr_t param), intptr_t param) {
  if (callback == nullptr) return false;
  std::vector<WindowEntry> windows;
  CurrentBackend().ListWindows(&windows);
  for (const WindowEntry& w : windows)
    if (!callback(w.id, param)) return false;
  return true;
}

int GetClassName(WindowId window, char* buffer, int size) {
  WindowEntry w;
  return Lookup(window, &w) ? Put(w.className, buffer, size) : 0;
}

int GetWindowText(WindowId window, char* buffer, int size) {
  WindowEntry w;
  if (!Lookup(window, &w)) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }
  return Put(w.title, buffer, size);
}

bool PostMessage(WindowId window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  uint32_t error = kErrorSuccess;
  if (!CurrentBackend().PostWindowMessage(window, message, wParam, lParam, &error)) {
    SetLastError(error ? error : kErrorInvalidWindowHandle);
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace platform
