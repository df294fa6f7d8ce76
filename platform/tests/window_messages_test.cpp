// Timers of a window tick on the station clock, one message at a time with
// notices first; the system's scheduled work runs when it falls due. The
// clock is manual: only the test's sleeps move it.
#include "platform/window_messages.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/device_notifications.h"

namespace {

using namespace platform;

bool Readable(int fd) {
  pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
  return ::poll(&p, 1, 0) == 1;
}

// "timer 17", "notice 32768", ... for what the window takes now.
std::vector<std::string> TakeAll(MessageWindow& window) {
  std::vector<std::string> taken;
  WindowMessage m;
  while (window.Take(&m))
    taken.push_back((m.message == kWmTimer ? "timer " : "notice ") + std::to_string(m.wParam));
  return taken;
}

using Taken = std::vector<std::string>;

class WindowMessages : public ::testing::Test {
 protected:
  ScopedManualClock clock_;
  MessageWindow window_;
};

TEST_F(WindowMessages, ATimerTicksEachPeriodUntilKilledAndRestartsWhenSetAgain) {
  EXPECT_EQ(window_.NextDueIn(), -1);
  ASSERT_EQ(SetTimer(window_.handle(), 17, 1500), 17u);
  EXPECT_TRUE(Readable(window_.WakeDescriptor()));
  EXPECT_EQ(window_.NextDueIn(), 1500);
  Sleep(1499);
  EXPECT_EQ(TakeAll(window_), Taken{});
  EXPECT_FALSE(Readable(window_.WakeDescriptor()));
  Sleep(1);
  EXPECT_EQ(TakeAll(window_), Taken{"timer 17"});
  // Late by several periods: one tick, and the next period starts now.
  Sleep(5000);
  EXPECT_EQ(TakeAll(window_), Taken{"timer 17"});
  EXPECT_EQ(window_.NextDueIn(), 1500);
  // Set again 1000 ms into its period: a full new period from now.
  Sleep(1000);
  ASSERT_EQ(SetTimer(window_.handle(), 17, 200), 17u);
  Sleep(199);
  EXPECT_EQ(TakeAll(window_), Taken{});
  Sleep(1);
  EXPECT_EQ(TakeAll(window_), Taken{"timer 17"});
  EXPECT_TRUE(KillTimer(window_.handle(), 17));
  EXPECT_FALSE(KillTimer(window_.handle(), 17));
  Sleep(10000);
  EXPECT_EQ(TakeAll(window_), Taken{});
  EXPECT_EQ(window_.NextDueIn(), -1);
}

TEST_F(WindowMessages, NoticesComeBeforeTimersAndTheEarliestTimerFirst) {
  ASSERT_NE(SetTimer(window_.handle(), 2, 300), 0u);
  ASSERT_NE(SetTimer(window_.handle(), 1, 400), 0u);
  Sleep(500);
  BroadcastDeviceChange(kDbtDevNodesChanged, nullptr);
  EXPECT_EQ(window_.NextDueIn(), 0);
  WindowMessage m;
  ASSERT_TRUE(window_.Take(&m));
  EXPECT_EQ(m.message, kWmDeviceChange);
  // What the notice's handler does to a due timer counts for the next take.
  EXPECT_TRUE(KillTimer(window_.handle(), 2));
  EXPECT_EQ(TakeAll(window_), Taken{"timer 1"});
}

TEST_F(WindowMessages, TimersNeedAWindow) {
  WindowHandle gone = 0;
  {
    MessageWindow closed;
    gone = closed.handle();
    ASSERT_NE(SetTimer(gone, 5, 100), 0u);
  }
  SetLastError(0);
  EXPECT_EQ(SetTimer(gone, 5, 100), 0u);
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);
  EXPECT_FALSE(KillTimer(gone, 5));
  EXPECT_EQ(SetTimer(0, 5, 100), 0u);
}

// The system's work runs on the thread that takes messages once it is due,
// earliest first; cancelled work never runs.
TEST_F(WindowMessages, ScheduledWorkRunsWhenDueUnlessCancelled) {
  std::vector<std::string> ran;
  const int owner = 0, other = 0;
  const uint64_t now = GetTickCount64();
  ScheduleSystemWork(now + 300, &owner, [&] { ran.push_back("b"); });
  ScheduleSystemWork(now + 100, &owner, [&] {
    ran.push_back("a");
    BroadcastDeviceChange(kDbtDevNodesChanged, nullptr);
  });
  ScheduleSystemWork(now + 200, &other, [&] { ran.push_back("never"); });
  EXPECT_TRUE(Readable(window_.WakeDescriptor()));
  EXPECT_EQ(window_.NextDueIn(), 100);
  CancelSystemWork(&other);
  Sleep(99);
  EXPECT_EQ(TakeAll(window_), Taken{});
  Sleep(300);
  EXPECT_EQ(TakeAll(window_), Taken{"notice 7"});
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(window_.NextDueIn(), -1);
}

}  // namespace
