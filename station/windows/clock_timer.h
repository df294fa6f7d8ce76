// A timer component of a window on the station clock: while enabled, its
// handler runs every interval on the user-interface thread. Like the class
// library's timer it has a hidden window of its own, so its ticks never
// reach the form's message map.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

#include "station/windows/message_pump.h"

namespace station {

class ClockTimer : public QObject {
  Q_OBJECT

 public:
  ClockTimer(QObject* parent, uint32_t intervalMs, std::function<void()> onTimer);

  uint32_t Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  // Enabling starts a full interval from now; disabling stops it.
  void SetEnabled(bool enabled);
  void Start() { SetEnabled(true); }
  void Stop() { SetEnabled(false); }

 private:
  static constexpr uintptr_t kTimerId = 1;

  WindowMessagePump pump_;
  std::function<void()> onTimer_;
  uint32_t interval_;
  bool enabled_ = false;
};

}  // namespace station
