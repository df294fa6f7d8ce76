// A critical section: a lock that the thread holding it may take again, and
// that can say whether the calling thread holds it (lock probes in tests and
// assertions of lock discipline) and how long it has been held in all
// (station time; what the benchmarks set parallel work against).
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/clock.h"

namespace platform {

class CriticalSection {
 public:
  void lock() {
    mutex_.lock();
    Enter();
  }
  bool try_lock() {
    if (!mutex_.try_lock()) return false;
    Enter();
    return true;
  }
  void unlock() {
    if (--depth_ == 0) {
      owner_.store(std::thread::id(), std::memory_order_relaxed);
      heldNs_.fetch_add(QueryPerformanceCounter() - enteredNs_, std::memory_order_relaxed);
    }
    mutex_.unlock();
  }
  [[nodiscard]] bool HeldByCurrentThread() const {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }
  // Station nanoseconds between each outermost entry and its exit, summed
  // over every holder, as each holder's clock counts them.
  [[nodiscard]] int64_t HeldNanoseconds() const { return heldNs_.load(std::memory_order_relaxed); }

 private:
  void Enter() {
    if (depth_++ != 0) return;
    owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    enteredNs_ = QueryPerformanceCounter();  // the counter ticks in nanoseconds
  }

  std::recursive_mutex mutex_;
  // Written only by the holder; another thread reading it never sees its own
  // id there, so a relaxed load answers the question exactly.
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;
  int64_t enteredNs_ = 0;  // the holder's
  std::atomic<int64_t> heldNs_{0};
};

using CriticalSectionHolder = std::lock_guard<CriticalSection>;

}  // namespace platform
