#include "platform/window_messages.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "platform/device_io.h"

namespace platform {

namespace {

// The system never ticks a timer faster than this.
constexpr uint32_t kMinimumTimerElapse = 10;

struct Timer {
  uint32_t elapse = 0;
  uint64_t due = 0;
};

}  // namespace

struct WindowPort {
  WindowPort() : wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~WindowPort() {
    if (wake >= 0) ::close(wake);
  }
  WindowPort(const WindowPort&) = delete;
  WindowPort& operator=(const WindowPort&) = delete;

  void Wake() const {
    const uint64_t one = 1;
    // The counter cannot overflow: Take drains it before it could.
    while (::write(wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void Drain() const {
    uint64_t count = 0;
    while (::read(wake, &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

  const int wake;
  std::mutex mutex;
  std::deque<WindowMessage> notices;
  std::map<uintptr_t, Timer> timers;
};

namespace {

struct Work {
  uint64_t due = 0;
  uint64_t sequence = 0;
  const void* owner = nullptr;
  std::function<void()> run;
};

struct Running {
  const void* owner;
  std::thread::id thread;
};

struct Registry {
  std::mutex mutex;
  std::map<WindowHandle, std::shared_ptr<WindowPort>> windows;
  WindowHandle next = 1;
  std::vector<Work> work;
  uint64_t sequence = 0;
  std::vector<Running> running;
  std::condition_variable workDone;
};

// Lives until the process ends: windows and benches of static lifetime may
// still reach it while other statics are destroyed.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

std::shared_ptr<WindowPort> FindPort(WindowHandle window) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.windows.find(window);
  return it == r.windows.end() ? nullptr : it->second;
}

void WakeAll() {
  std::vector<std::shared_ptr<WindowPort>> ports;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const auto& [handle, port] : r.windows) ports.push_back(port);
  }
  for (const auto& port : ports) port->Wake();
}

// Runs the system's work that has fallen due, in the order of its due times
// (then of scheduling), without holding any lock.
void RunDueWork() {
  Registry& r = TheRegistry();
  std::vector<Work> due;
  {
    std::lock_guard lock(r.mutex);
    if (r.work.empty()) return;
    const uint64_t now = GetTickCount64();
    const auto firstLater =
        std::stable_partition(r.work.begin(), r.work.end(), [now](const Work& w) { return w.due <= now; });
    due.assign(std::make_move_iterator(r.work.begin()), std::make_move_iterator(firstLater));
    r.work.erase(r.work.begin(), firstLater);
    std::sort(due.begin(), due.end(), [](const Work& a, const Work& b) {
      return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
    });
  }
  for (Work& w : due) {
    {
      std::lock_guard lock(r.mutex);
      r.running.push_back({w.owner, std::this_thread::get_id()});
    }
    w.run();
    std::lock_guard lock(r.mutex);
    const auto it = std::find_if(r.running.begin(), r.running.end(), [&](const Running& x) {
      return x.owner == w.owner && x.thread == std::this_thread::get_id();
    });
    if (it != r.running.end()) r.running.erase(it);
    r.workDone.notify_all();
  }
}

}  // namespace

MessageWindow::MessageWindow() : port_(std::make_shared<WindowPort>()) {
  if (port_->wake < 0) throw std::runtime_error("Cannot create the window's message port.");
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  handle_ = r.next++;
  r.windows.emplace(handle_, port_);
}

MessageWindow::~MessageWindow() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.windows.erase(handle_);
}

int MessageWindow::WakeDescriptor() const { return port_->wake; }

bool MessageWindow::Take(WindowMessage* out) {
  RunDueWork();
  std::lock_guard lock(port_->mutex);
  if (!port_->notices.empty()) {
    *out = std::move(port_->notices.front());
    port_->notices.pop_front();
    return true;
  }
  const uint64_t now = GetTickCount64();
  auto earliest = port_->timers.end();
  for (auto it = port_->timers.begin(); it != port_->timers.end(); ++it) {
    if (it->second.due <= now && (earliest == port_->timers.end() || it->second.due < earliest->second.due))
      earliest = it;
  }
  if (earliest != port_->timers.end()) {
    earliest->second.due = now + earliest->second.elapse;
    *out = WindowMessage{.message = kWmTimer, .wParam = earliest->first, .broadcast = nullptr};
    return true;
  }
  port_->Drain();
  return false;
}

int64_t MessageWindow::NextDueIn() const {
  const uint64_t now = GetTickCount64();
  bool any = false;
  uint64_t next = 0;
  const auto consider = [&](uint64_t due) {
    if (!any || due < next) next = due;
    any = true;
  };
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const Work& w : r.work) consider(w.due);
  }
  {
    std::lock_guard lock(port_->mutex);
    if (!port_->notices.empty()) return 0;
    for (const auto& [id, timer] : port_->timers) consider(timer.due);
  }
  if (!any) return -1;
  return next <= now ? 0 : static_cast<int64_t>(next - now);
}

uintptr_t SetTimer(WindowHandle window, uintptr_t id, uint32_t elapse) {
  const std::shared_ptr<WindowPort> port = FindPort(window);
  if (!port) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  elapse = std::max(elapse, kMinimumTimerElapse);
  {
    std::lock_guard lock(port->mutex);
    port->timers[id] = Timer{.elapse = elapse, .due = GetTickCount64() + elapse};
  }
  port->Wake();
  return id;
}

bool KillTimer(WindowHandle window, uintptr_t id) {
  const std::shared_ptr<WindowPort> port = FindPort(window);
  if (!port) {
    SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  std::lock_guard lock(port->mutex);
  return port->timers.erase(id) != 0;
}

std::vector<WindowHandle> OwnWindows() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::vector<WindowHandle> handles;
  for (const auto& [handle, port] : r.windows) handles.push_back(handle);
  return handles;
}

bool DeliverToWindow(WindowHandle window, WindowMessage message) {
  const std::shared_ptr<WindowPort> port = FindPort(window);
  if (!port) return false;
  {
    std::lock_guard lock(port->mutex);
    port->notices.push_back(std::move(message));
  }
  port->Wake();
  return true;
}

void ScheduleSystemWork(uint64_t dueTick, const void* owner, std::function<void()> work) {
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.work.push_back(Work{.due = dueTick, .sequence = r.sequence++, .owner = owner, .run = std::move(work)});
  }
  // Event loops learn of the new due time.
  WakeAll();
}

void CancelSystemWork(const void* owner) {
  Registry& r = TheRegistry();
  std::unique_lock lock(r.mutex);
  std::erase_if(r.work, [owner](const Work& w) { return w.owner == owner; });
  // Work of this owner that another thread is running now must end before
  // the owner may go.
  r.workDone.wait(lock, [&] {
    return std::none_of(r.running.begin(), r.running.end(), [&](const Running& x) {
      return x.owner == owner && x.thread != std::this_thread::get_id();
    });
  });
}

}  // namespace platform
