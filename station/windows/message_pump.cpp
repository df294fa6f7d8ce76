#include "station/windows/message_pump.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace station {
namespace {

// Real milliseconds a wait is cut to, so a clock that a sleep warped ahead
// is noticed soon.
constexpr int64_t kLongestWaitMs = 1000;

}  // namespace

WindowMessagePump::WindowMessagePump(QObject* parent, Handler handler)
    : QObject(parent), handler_(std::move(handler)) {
  wake_ = new QSocketNotifier(window_.WakeDescriptor(), QSocketNotifier::Read, this);
  wake_->setEnabled(false);  // the descriptor stays readable until Start takes what waits
  connect(wake_, &QSocketNotifier::activated, this, [this] { DispatchDue(); });
  due_ = new QTimer(this);
  due_->setSingleShot(true);
  connect(due_, &QTimer::timeout, this, [this] { DispatchDue(); });
}

WindowMessagePump::~WindowMessagePump() = default;

void WindowMessagePump::Start() {
  started_ = true;
  wake_->setEnabled(true);
  DispatchDue();
}

void WindowMessagePump::DispatchDue() {
  if (!started_) return;
  platform::WindowMessage message;
  while (window_.Take(&message)) handler_(message);
  Rearm();
}

void WindowMessagePump::Rearm() {
  const int64_t dueIn = window_.NextDueIn();
  if (dueIn < 0) {
    due_->stop();
    return;
  }
  due_->start(static_cast<int>(std::min(dueIn, kLongestWaitMs)));
}

}  // namespace station
