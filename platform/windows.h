// The top-level windows of the desktop, as far as the station deals with
// other programs' windows: find the shell's prompt for a new volume ("#32770"
// titled "Microsoft Windows") and close it.
#pragma once

#include <cstdint>

namespace platform {

// A window of another program; 0 is none.
using WindowId = uint32_t;

inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kErrorInvalidWindowHandle = 1400;

// The first top-level window with this class and title (either may be
// null: any); 0 when there is none.
WindowId FindWindow(const char* className, const char* title);
// Calls `callback` for each top-level window until it returns false.
// Returns true when the walk reached the end.
[[nodiscard]] bool EnumWindows(bool (*callback)(WindowId window, intptr_t param), intptr_t param);
// The class name / title, NUL-terminated and cut to `size`; the length copied.
[[nodiscard]] int GetClassName(WindowId window, char* buffer, int size);
[[nodiscard]] int GetWindowText(WindowId window, char* buffer, int size);
// False (kErrorInvalidWindowHandle) when the window does not exist.
[[nodiscard]] bool PostMessage(WindowId window, uint32_t message, uintptr_t wParam,
                               intptr_t lParam);

// What a backend reports about one top-level window.
struct WindowEntry {
  WindowId id = 0;
  char className[64] = {};
  char title[128] = {};
};

}  // namespace platform
