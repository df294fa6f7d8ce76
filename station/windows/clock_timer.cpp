#include "station/windows/clock_timer.h"

#include <utility>

namespace station {

ClockTimer::ClockTimer(QObject* parent, uint32_t intervalMs, std::function<void()> onTimer)
    : QObject(parent),
      pump_(this,
            [this](const platform::WindowMessage& m) {
              if (m.message == platform::kWmTimer && enabled_) onTimer_();
            }),
      onTimer_(std::move(onTimer)),
      interval_(intervalMs) {
  pump_.Start();
}

void ClockTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (enabled) {
    static_cast<void>(platform::SetTimer(pump_.handle(), kTimerId, interval_));
  } else {
    static_cast<void>(platform::KillTimer(pump_.handle(), kTimerId));
  }
}

}  // namespace station
