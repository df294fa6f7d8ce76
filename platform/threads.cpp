#include "platform/threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/process.h"

namespace platform {
namespace {

// Nice values: time-critical is the system's highest for a thread.
constexpr int kNiceTimeCritical = -20;
constexpr int kNiceNormal = 0;

std::atomic<int> g_startFailures{0};

struct ThreadState {
  std::atomic<uint32_t> exitCode{kStillActive};
  std::mutex mutex;
  std::condition_variable started;
  pid_t tid = 0;  // guarded by mutex
};

struct ThreadObject final : HandleObject {
  explicit ThreadObject(std::shared_ptr<ThreadState> state)
      : HandleObject(nullptr, HandleKind::Thread), state(std::move(state)) {}
  std::shared_ptr<ThreadState> state;
};

ThreadObject* AsThread(Handle handle) {
  if (handle == kInvalidHandle || handle->kind != HandleKind::Thread) return nullptr;
  return static_cast<ThreadObject*>(handle);
}

}  // namespace

Handle CreateThread(std::function<uint32_t()> body, std::function<void()> ended) {
  int failures = g_startFailures.load();
  while (failures > 0 && !g_startFailures.compare_exchange_weak(failures, failures - 1)) {
  }
  if (failures > 0) {
    SetLastError(kErrorNotEnoughMemory);
    return kInvalidHandle;
  }
  auto state = std::make_shared<ThreadState>();
  try {
    std::thread([state, body = std::move(body), ended = std::move(ended)]() mutable {
      {
        std::lock_guard lock(state->mutex);
        state->tid = static_cast<pid_t>(::syscall(SYS_gettid));
      }
      state->started.notify_all();
      const uint32_t code = body();
      body = nullptr;  // what the body held goes before the waiter hears of the end
      state->exitCode.store(code);
      if (ended) ended();
    }).detach();
  } catch (const std::system_error&) {
    SetLastError(kErrorNotEnoughMemory);
    return kInvalidHandle;
  }
  SetLastError(kErrorSuccess);
  return new ThreadObject(std::move(state));
}

bool GetExitCodeThread(Handle thread, uint32_t* exitCode) {
  ThreadObject* t = AsThread(thread);
  if (t == nullptr || exitCode == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  *exitCode = t->state->exitCode.load();
  SetLastError(kErrorSuccess);
  return true;
}

bool ThreadStillActive(Handle thread) {
  uint32_t code = 0;
  return GetExitCodeThread(thread, &code) && code == kStillActive;
}

bool SetThreadPriority(Handle thread, int priority) {
  ThreadObject* t = AsThread(thread);
  if (t == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  pid_t tid = 0;
  {
    std::unique_lock lock(t->state->mutex);
    t->state->started.wait(lock, [&] { return t->state->tid != 0; });
    tid = t->state->tid;
  }
  const int nice = priority >= kThreadPriorityTimeCritical ? kNiceTimeCritical : kNiceNormal;
  // A thread that has already ended has no priority to set (and its id may
  // already be another thread's); that is no error.
  if (t->state->exitCode.load() != kStillActive) {
    SetLastError(kErrorSuccess);
    return true;
  }
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0 && errno != ESRCH) {
    SetLastError(kErrorAccessDenied);
    return false;
  }
  SetLastError(kErrorSuccess);
  return true;
}

ScopedThreadStartFailures::ScopedThreadStartFailures(int count) { g_startFailures.store(count); }
ScopedThreadStartFailures::~ScopedThreadStartFailures() { g_startFailures.store(0); }

}  // namespace platform
