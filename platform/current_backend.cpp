// The process's one backend slot. What fills it when nobody installed a
// backend is the business of the backend selection the program links.
#include <atomic>
#include <mutex>

#include "platform/backend.h"

namespace platform {
namespace {

struct Selection {
  std::mutex mutex;
  std::shared_ptr<Backend> current;
  std::atomic<Backend*> fast{nullptr};
};

Selection& State() {
  static Selection selection;
  return selection;
}

std::shared_ptr<Backend> Swap(std::shared_ptr<Backend> next) {
  Selection& s = State();
  std::lock_guard lock(s.mutex);
  std::shared_ptr<Backend> previous = std::move(s.current);
  s.current = std::move(next);
  s.fast.store(s.current.get(), std::memory_order_release);
  return previous;
}

}  // namespace

Backend& CurrentBackend() {
  Selection& s = State();
  if (Backend* b = s.fast.load(std::memory_order_acquire)) return *b;
  std::lock_guard lock(s.mutex);
  if (!s.current) {
    s.current = SelectBackend();
    s.fast.store(s.current.get(), std::memory_order_release);
  }
  return *s.current;
}

void InstallBackend(std::shared_ptr<Backend> backend) { Swap(std::move(backend)); }

ScopedBackend::ScopedBackend(std::shared_ptr<Backend> backend)
    : backend_(backend), previous_(Swap(std::move(backend))) {}

ScopedBackend::~ScopedBackend() { Swap(std::move(previous_)); }

}  // namespace platform
