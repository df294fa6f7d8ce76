#include "station/wait_animation.h"

#include "platform/clock.h"
#include "station/station_messages.h"

namespace station {

TMyThread::TMyThread(std::shared_ptr<platform::MessageQueue> queue)
    : queue_(std::move(queue)), thread_([this] { Execute(); }) {}

TMyThread::~TMyThread() {
  Terminate();
  thread_.join();
}

void TMyThread::Terminate() {
  terminated_.store(true);
  queue_->ReleaseSenders();
}

void TMyThread::Execute() {
  while (!terminated_.load()) {
    // Drawn on the interface thread; a terminate request stops the wait,
    // not the frame already asked for.
    if (!queue_->Send(kWmWaitFrame, terminated_)) break;
    int x = x_.load() + kStep;
    if (x > 0) x = kFirstX;
    x_.store(x);
    platform::Sleep(kFrameMs);
  }
  queue_->Post(kWmWaitEnded);
}

}  // namespace station
