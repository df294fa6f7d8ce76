// The hold time a critical section sums: each outermost hold once, on the
// holder's station clock, however often the holder takes it again inside.
#include "platform/critical_section.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"

namespace platform {
namespace {

TEST(CriticalSectionTest, HeldTimeCountsEachOutermostHold) {
  ScopedManualClock manual;
  CriticalSection lock;
  {
    CriticalSectionHolder outer(lock);
    Sleep(300);
    {
      CriticalSectionHolder inner(lock);  // taken again: not a hold of its own
      Sleep(200);
    }
    EXPECT_TRUE(lock.HeldByCurrentThread());
  }
  EXPECT_EQ(lock.HeldNanoseconds(), 500'000'000);
  Sleep(1000);  // outside the lock: not counted
  std::thread other([&] {
    CriticalSectionHolder hold(lock);
    Sleep(250);
  });
  other.join();
  EXPECT_EQ(lock.HeldNanoseconds(), 750'000'000);
  EXPECT_FALSE(lock.HeldByCurrentThread());
}

}  // namespace
}  // namespace platform
