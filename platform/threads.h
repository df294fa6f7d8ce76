// Threads of this process as handles, as the station starts its workers:
// a body whose result is the thread's exit code, a query that answers "still
// active" while it runs, and a priority.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/device_io.h"

namespace platform {

inline constexpr int kThreadPriorityNormal = 0;
inline constexpr int kThreadPriorityTimeCritical = 15;

// Starts `body` on a thread of its own. `ended` (may be empty) runs on that
// thread right after the exit code is stored: a waiter's wake-up, so it
// must keep alive whatever it touches. Returns kInvalidHandle, with the last
// error, when the thread cannot start; `body` is then destroyed unrun.
// CloseHandle releases the handle; the thread runs on.
Handle CreateThread(std::function<uint32_t()> body, std::function<void()> ended = {});

// kStillActive (259) while the thread runs, then the body's result. False
// for a handle that is not a thread.
bool GetExitCodeThread(Handle thread, uint32_t* exitCode);
// The exit code query answers "still active".
bool ThreadStillActive(Handle thread);

// Time-critical is the highest priority the system gives an ordinary thread.
// False, with kErrorAccessDenied, where the system does not allow it.
bool SetThreadPriority(Handle thread, int priority);

// Tests: the next `count` thread starts fail, as on a system out of threads.
class ScopedThreadStartFailures {
 public:
  explicit ScopedThreadStartFailures(int count);
  ~ScopedThreadStartFailures();
  ScopedThreadStartFailures(const ScopedThreadStartFailures&) = delete;
  ScopedThreadStartFailures& operator=(const ScopedThreadStartFailures&) = delete;
};

}  // namespace platform
