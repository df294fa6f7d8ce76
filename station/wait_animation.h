// The wait animation's thread: while a pass runs it moves a picture across
// the wait panel, 2 pixels every 10 ms of station time, from x = -240 to 0
// and round again. It draws nothing itself: each frame is drawn on the
// interface thread (kWmWaitFrame, which it waits for), and its end hides
// the panel there (kWmWaitEnded). The interface thread reads X() for the
// frame it draws.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "platform/message_queue.h"

namespace station {

class TMyThread {
 public:
  static constexpr int kFirstX = -240;
  static constexpr int kStep = 2;
  static constexpr uint32_t kFrameMs = 10;

  // Starts the thread at once.
  explicit TMyThread(std::shared_ptr<platform::MessageQueue> queue);
  // Terminates it and waits for its end: no frame is asked for afterwards.
  ~TMyThread();
  TMyThread(const TMyThread&) = delete;
  TMyThread& operator=(const TMyThread&) = delete;

  // The terminate request: a frame already asked for is still drawn, then
  // the panel is hidden.
  void Terminate();
  int X() const { return x_.load(); }

 private:
  void Execute();

  std::shared_ptr<platform::MessageQueue> queue_;
  std::atomic<int> x_{kFirstX};
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace station
