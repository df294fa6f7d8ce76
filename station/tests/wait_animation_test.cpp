// The wait animation's thread: the frames it asks for, each drawn on the
// dispatching thread before the next; its step on the station clock; a
// terminate request while a frame waits.
#include "station/wait_animation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "station/station_messages.h"

namespace station {
namespace {

std::atomic<int> g_frameSleeps{0};
std::atomic<int> g_otherSleeps{0};
void CountSleep(uint32_t ms) { (ms == TMyThread::kFrameMs ? g_frameSleeps : g_otherSleeps).fetch_add(1); }

TEST(WaitAnimationTest, FramesRunFromMinus240ToZeroAndRound) {
  platform::ScopedClockScale fast(1000);
  platform::SetSleepObserver(&CountSleep);
  auto queue = std::make_shared<platform::MessageQueue>();
  std::vector<int> frames;
  bool ended = false;
  {
    TMyThread animation(queue);
    queue->SetHandler(kWmWaitFrame, [&] { frames.push_back(animation.X()); });
    queue->SetHandler(kWmWaitEnded, [&] { ended = true; });
    while (frames.size() < 250) {
      queue->Wait();
      queue->Dispatch();
    }
    animation.Terminate();
    while (!ended) {
      queue->Wait();
      queue->Dispatch();
    }
  }
  platform::SetSleepObserver(nullptr);
  std::vector<int> expected;
  for (size_t i = 0; i < frames.size(); ++i) expected.push_back(-240 + 2 * static_cast<int>(i % 121));
  EXPECT_EQ(frames, expected);
  // One 10 ms sleep of station time between frames, nothing else.
  EXPECT_GE(g_frameSleeps.load(), 249);
  EXPECT_LE(g_frameSleeps.load(), static_cast<int>(frames.size()));
  EXPECT_EQ(g_otherSleeps.load(), 0);
  EXPECT_FALSE(queue->Wait(0));  // nothing asked for after its end
}

TEST(WaitAnimationTest, TerminateWhileAFrameWaitsDrawsItThenHides) {
  auto queue = std::make_shared<platform::MessageQueue>();
  std::string events;
  auto animation = std::make_unique<TMyThread>(queue);
  queue->SetHandler(kWmWaitFrame, [&] { events += 'f'; });
  queue->SetHandler(kWmWaitEnded, [&] { events += 'h'; });
  ASSERT_TRUE(queue->Wait());  // the first frame is asked for
  animation->Terminate();
  animation.reset();  // the thread has ended
  queue->Dispatch();
  EXPECT_EQ(events, "fh");
  EXPECT_FALSE(queue->Wait(0));
}

}  // namespace
}  // namespace station
