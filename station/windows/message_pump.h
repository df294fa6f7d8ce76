// A window's message port (platform/window_messages.h) inside Qt's event
// loop: notices and timer ticks are taken on the user-interface thread and
// handed on one message at a time. The port's descriptor wakes the loop
// when something arrives from any thread; a single-shot timer wakes it when
// the next tick falls due. That is a station time: the station clock runs
// at least as fast as real time, and sleeps may warp it ahead, so the wait
// is cut to a second and the port asked again.
#pragma once

#include <QObject>

#include <functional>

#include "platform/window_messages.h"

class QSocketNotifier;
class QTimer;

namespace station {

class WindowMessagePump : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(const platform::WindowMessage&)>;

  WindowMessagePump(QObject* parent, Handler handler);
  ~WindowMessagePump() override;

  platform::WindowHandle handle() const { return window_.handle(); }

  // Messages are handed on from now on; until then they wait on the port,
  // as for a window whose create event has not run yet.
  void Start();

  // Hands on everything that is due now, then waits for the next. A handler
  // that runs a loop of its own (a message box) may see messages inside it.
  void DispatchDue();

 private:
  void Rearm();

  platform::MessageWindow window_;
  Handler handler_;
  QSocketNotifier* wake_ = nullptr;
  QTimer* due_ = nullptr;
  bool started_ = false;
};

}  // namespace station
