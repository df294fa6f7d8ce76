// The windows of this process as the system sees them: each has a handle
// and a message port on which the system's notices (device changes) and the
// window's timers arrive, to be taken one at a time on the window's thread.
//
// Timers run on the station clock: a tick falls due when the station time
// reaches it, whatever the real time. The port runs no loop and no thread of
// its own. Its wake descriptor turns readable when a notice arrives or a
// timer is set; the window's event loop then takes what is due and asks how
// long until the next thing falls due (NextDueIn).
//
// The system's own work that falls due later (a device back from its reset)
// is scheduled here too and runs on the thread that next takes a message
// once its time has come, outside every lock of the ports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/windows.h"  // kErrorInvalidWindowHandle

namespace platform {

struct DeviceBroadcast;
struct WindowPort;

// A window of this process; 0 is none.
using WindowHandle = uint32_t;

inline constexpr uint32_t kWmTimer = 0x0113;         // 275
inline constexpr uint32_t kWmDeviceChange = 0x0219;  // 537

// One message taken from a window's port.
struct WindowMessage {
  uint32_t message = 0;
  // The event code of a device change; the id of a timer.
  uintptr_t wParam = 0;
  // The header that came with a device change; null for one without.
  std::shared_ptr<const DeviceBroadcast> broadcast;
};

class MessageWindow {
 public:
  // Throws std::runtime_error when the system cannot give the port a
  // descriptor.
  MessageWindow();
  // Its timers die with it; notices no longer reach it.
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  WindowHandle handle() const { return handle_; }

  // Readable while something may have arrived; Take makes it unreadable
  // once nothing is left.
  int WakeDescriptor() const;

  // The next message: a notice, in the order they arrived; only when none
  // waits, a timer whose tick is due (the earliest), which starts its next
  // period from now. First runs the system's work that has fallen due.
  // False when nothing is due.
  bool Take(WindowMessage* out);

  // Station milliseconds until something falls due here: 0 now, -1 when
  // nothing waits (no notice, no timer, no scheduled work).
  int64_t NextDueIn() const;

 private:
  std::shared_ptr<WindowPort> port_;
  WindowHandle handle_ = 0;
};

// A timer of `window` ticking every `elapse` station milliseconds until it
// is killed; setting an id that runs restarts it with the new period.
// Returns `id`; 0 (last error kErrorInvalidWindowHandle) for a window that
// does not exist.
uintptr_t SetTimer(WindowHandle window, uintptr_t id, uint32_t elapse);
// False when the window has no such timer.
bool KillTimer(WindowHandle window, uintptr_t id);

// ---- The system's side.

// The windows that exist now, oldest first.
std::vector<WindowHandle> OwnWindows();
// Queues a notice on `window`'s port; false when the window does not exist.
bool DeliverToWindow(WindowHandle window, WindowMessage message);

// Work of the system that falls due at station time `dueTick` (as
// GetTickCount64 counts). `owner` names it for CancelSystemWork; the owner
// cancels before it goes away.
void ScheduleSystemWork(uint64_t dueTick, const void* owner, std::function<void()> work);
void CancelSystemWork(const void* owner);

}  // namespace platform
