// The wait panel of a main window: while a pass runs, TMyThread moves a
// picture across the panel's paint box. Every frame is drawn here, on the
// interface thread, when the window's queue hands over the thread's request.
// The window owns it and ends it before its widgets and its queue.
#pragma once

#include <QObject>

#include <memory>

#include "platform/message_queue.h"
#include "station/wait_animation.h"

class QLabel;
class QWidget;

namespace station {

class WaitPanel : public QObject {
 public:
  // `image` holds the picture (made here when it has none); `paintBox`, a
  // child of `panel`, shows it. Takes the queue's wait messages.
  WaitPanel(QWidget* panel, QWidget* paintBox, QLabel* image, std::shared_ptr<platform::MessageQueue> queue);
  // No frame is asked for afterwards.
  ~WaitPanel() override;
  WaitPanel(const WaitPanel&) = delete;
  WaitPanel& operator=(const WaitPanel&) = delete;

  // Brings the panel to the front, shows it and starts the thread.
  void Start();
  // The terminate request: the thread's last frame and the hiding of the
  // panel wait in the queue for the window's next turn.
  void Stop();
  // The picture's x in the last frame drawn.
  int X() const { return x_; }
  int FramesDrawn() const { return frames_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void DrawWaitFrame();

  QWidget* panel_;
  QWidget* paintBox_;
  QLabel* image_;
  std::shared_ptr<platform::MessageQueue> queue_;
  std::unique_ptr<TMyThread> thread_;
  int x_ = TMyThread::kFirstX;
  int frames_ = 0;
};

}  // namespace station
