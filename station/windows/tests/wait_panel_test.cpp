// The wait panel both main windows show during a pass: frames drawn on the
// interface thread as the thread asks, the picture moving, and the panel
// hidden only after the last frame asked for has been drawn.
#include "station/windows/wait_panel.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>

#include <memory>
#include <vector>

#include "platform/clock.h"

namespace station {
namespace {

class WaitPanelTest : public ::testing::Test {
 public:
  WaitPanelTest() {
    panel_.resize(153, 25);
    paintBox_->setGeometry(4, 4, 145, 17);
    image_.resize(177, 17);
    panel_.hide();
  }

  // Runs what waits in the queue, as the window's event loop would.
  void Turn() {
    queue_->Wait();
    queue_->Dispatch();
  }

  platform::ScopedClockScale fast_{1000};
  std::shared_ptr<platform::MessageQueue> queue_ = std::make_shared<platform::MessageQueue>();
  QWidget panel_;
  QWidget* paintBox_ = new QWidget(&panel_);
  QLabel image_;
};

TEST_F(WaitPanelTest, FramesMoveThePictureUntilStopHidesThePanel) {
  WaitPanel wait(&panel_, paintBox_, &image_, queue_);
  EXPECT_FALSE(image_.pixmap().isNull());
  wait.Start();
  EXPECT_FALSE(panel_.isHidden());
  std::vector<int> xs;
  while (wait.FramesDrawn() < 10) {
    Turn();
    xs.push_back(wait.X());
  }
  // Each frame shows the picture 2 pixels further on from -240.
  for (size_t i = 1; i < xs.size(); ++i) EXPECT_EQ(xs[i] - xs[i - 1], 2) << i;
  EXPECT_GE(xs.front(), -240);
  wait.Stop();
  EXPECT_FALSE(panel_.isHidden());  // hidden on the window's next turn
  while (!panel_.isHidden()) Turn();
  // The thread has ended: nothing more is asked for.
  EXPECT_EQ(queue_->Dispatch(), 0);
}

TEST_F(WaitPanelTest, AFrameAskedForBeforeTheStopIsDrawnThenThePanelHides) {
  WaitPanel wait(&panel_, paintBox_, &image_, queue_);
  wait.Start();
  ASSERT_TRUE(queue_->Wait());  // the first frame waits to be drawn
  wait.Stop();
  queue_->Dispatch();
  EXPECT_EQ(wait.FramesDrawn(), 1);
  EXPECT_EQ(wait.X(), -240);
  EXPECT_TRUE(panel_.isHidden());
}

}  // namespace
}  // namespace station
