// Acts once, while a window's pass waits for its workers, when `when` first
// holds at a row rebuild. Each worker is held at its first bridge command
// until the window has rebuilt its rows once more (it asks for that rebuild
// itself), so every pass gives the action its chance however fast the
// products answer; commands sent on the interface thread are never held.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/bench.h"
#include "station/station_messages.h"

namespace station::testing {

class PassGate : public QObject {
 public:
  // `postUpdate` queues WM_PORT_UPDATE to `window` (callable from any
  // thread); `waiting` tells whether its pass waits now.
  PassGate(QObject& window, sim::Bench& bench, std::function<void()> postUpdate, std::function<bool()> waiting,
           std::function<bool()> when, std::function<void()> action)
      : window_(&window), bench_(bench), postUpdate_(std::move(postUpdate)), waiting_(std::move(waiting)),
        when_(std::move(when)), action_(std::move(action)), ui_(std::this_thread::get_id()) {
    window.installEventFilter(this);
    for (size_t i = 0; i < bench_.size(); ++i)
      bench_.product(i).SetCommandObserver([this](sim::EmulatedBridge&) { Hold(); });
  }
  ~PassGate() override {
    for (size_t i = 0; i < bench_.size(); ++i) bench_.product(i).SetCommandObserver(nullptr);
    if (window_) window_->removeEventFilter(this);  // the window may be gone already
  }
  PassGate(const PassGate&) = delete;
  PassGate& operator=(const PassGate&) = delete;

  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != static_cast<QEvent::Type>(kWmPortUpdate)) return false;
    if (!done && waiting_() && when_()) {
      done = true;
      action_();
    }
    {
      std::lock_guard lock(mutex_);
      ++rebuilds_;
    }
    rebuilt_.notify_all();
    return false;
  }
  bool done = false;

 private:
  void Hold() {
    thread_local bool held = false;
    if (held || std::this_thread::get_id() == ui_) return;
    held = true;
    std::unique_lock lock(mutex_);
    const int seen = rebuilds_;
    postUpdate_();  // queues only: no window call from this thread
    rebuilt_.wait(lock, [&] { return rebuilds_ > seen; });
  }

  QPointer<QObject> window_;
  sim::Bench& bench_;
  std::function<void()> postUpdate_;
  std::function<bool()> waiting_;
  std::function<bool()> when_;
  std::function<void()> action_;
  std::thread::id ui_;
  std::mutex mutex_;
  std::condition_variable rebuilt_;
  int rebuilds_ = 0;
};

}  // namespace station::testing
