// A manual-reset event: stays set until it is reset.
#pragma once

#include <atomic>

namespace platform {

class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
  void Set() { set_.store(true, std::memory_order_release); }
  void Reset() { set_.store(false, std::memory_order_release); }
  [[nodiscard]] bool IsSet() const { return set_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> set_;
};

}  // namespace platform
