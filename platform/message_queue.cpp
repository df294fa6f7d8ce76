#include "platform/message_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace platform {

MessageQueue::MessageQueue() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wake_ < 0) throw std::runtime_error("Cannot create the message queue.");
}

MessageQueue::~MessageQueue() {
  Close();
  ::close(wake_);
}

void MessageQueue::SetHandler(uint32_t message, Handler handler) {
  std::lock_guard lock(mutex_);
  if (handler) handlers_[message] = std::move(handler);
  else handlers_.erase(message);
}

bool MessageQueue::Post(uint32_t message) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  if (std::find(pending_.begin(), pending_.end(), message) != pending_.end()) return true;
  pending_.push_back(message);
  if (pending_.size() == 1) {
    const uint64_t one = 1;
    // The counter cannot overflow: it is drained before it could reach its limit.
    while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  return true;
}

bool MessageQueue::Send(uint32_t message, const std::atomic<bool>& abandon) {
  std::unique_lock lock(mutex_);
  if (closed_) return false;
  // A message already waiting is handled by the next run of its handler.
  const uint64_t target = dispatched_[message] + 1;
  lock.unlock();
  if (!Post(message)) return false;
  lock.lock();
  handled_.wait(lock, [&] { return closed_ || abandon.load() || dispatched_[message] >= target; });
  return !closed_ && dispatched_[message] >= target;
}

void MessageQueue::ReleaseSenders() {
  std::lock_guard lock(mutex_);
  handled_.notify_all();
}

void MessageQueue::Drain() const {
  uint64_t count = 0;
  while (::read(wake_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

int MessageQueue::Dispatch() {
  std::vector<uint32_t> taken;
  {
    std::lock_guard lock(mutex_);
    Drain();
    taken.swap(pending_);
  }
  int ran = 0;
  for (const uint32_t message : taken) {
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      const auto it = handlers_.find(message);
      if (it != handlers_.end()) handler = it->second;
    }
    // A handler may run an event loop of its own (a message box), which
    // dispatches again: nothing of this round is shared with it.
    if (handler) {
      handler();
      ++ran;
    }
    std::lock_guard lock(mutex_);
    ++dispatched_[message];
    handled_.notify_all();
  }
  return ran;
}

bool MessageQueue::Wait(int realMilliseconds) const {
  pollfd fd{wake_, POLLIN, 0};
  for (;;) {
    const int r = ::poll(&fd, 1, realMilliseconds);
    if (r > 0) {
      // The descriptor carries no ordering of memory: taking the lock the
      // poster held orders what it wrote before the post before our return.
      std::lock_guard lock(mutex_);
      return true;
    }
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

void MessageQueue::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  pending_.clear();
  handlers_.clear();
  Drain();
  handled_.notify_all();
}

}  // namespace platform
