// Threads as handles: the still-active answer, the wake after the exit code,
// a start the system refuses, the time-critical priority.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <memory>

#include "platform/files.h"
#include "platform/message_queue.h"
#include "platform/process.h"

namespace platform {
namespace {

TEST(ThreadsTest, StillActiveUntilTheBodyReturnsThenItsResult) {
  auto queue = std::make_shared<MessageQueue>();
  std::atomic<bool> go{false};
  const Handle thread = CreateThread(
      [&] {
        while (!go.load()) std::this_thread::yield();
        return 42u;
      },
      [queue] { queue->Post(1); });
  ASSERT_NE(thread, kInvalidHandle);
  uint32_t code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, kStillActive);
  go.store(true);
  // The wake comes only after the exit code is there.
  EXPECT_TRUE(queue->Wait());
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(thread));

  EXPECT_FALSE(GetExitCodeThread(kInvalidHandle, &code));
  const Handle file = CreateFile("/dev/null", kAccessRead, kShareRead, kOpenExisting, 0);
  EXPECT_FALSE(GetExitCodeThread(file, &code));
  EXPECT_FALSE(SetThreadPriority(file, kThreadPriorityTimeCritical));
  CloseHandle(file);
}

TEST(ThreadsTest, ARefusedStartRunsNothingAndFreesTheBody) {
  auto held = std::make_shared<int>(0);
  {
    ScopedThreadStartFailures refuse(1);
    const Handle thread = CreateThread([held] { return ++*held, 0u; });
    EXPECT_EQ(thread, kInvalidHandle);
    EXPECT_EQ(GetLastError(), kErrorNotEnoughMemory);
    EXPECT_EQ(held.use_count(), 1);
  }
  auto queue = std::make_shared<MessageQueue>();
  const Handle thread = CreateThread([held] { return ++*held, 0u; }, [queue] { queue->Post(1); });
  ASSERT_NE(thread, kInvalidHandle);
  EXPECT_TRUE(queue->Wait());
  EXPECT_EQ(*held, 1);
  CloseHandle(thread);
}

// Time-critical where the system allows it: the thread then runs at the
// highest ordinary priority; where it does not, the call says so.
TEST(ThreadsTest, TimeCriticalPriority) {
  auto queue = std::make_shared<MessageQueue>();
  std::atomic<bool> set{false};
  std::atomic<int> nice{1000};
  const Handle thread = CreateThread(
      [&] {
        while (!set.load()) std::this_thread::yield();
        errno = 0;
        nice.store(::getpriority(PRIO_PROCESS, 0));
        return 0u;
      },
      [queue] { queue->Post(1); });
  ASSERT_NE(thread, kInvalidHandle);
  const bool ok = SetThreadPriority(thread, kThreadPriorityTimeCritical);
  const uint32_t error = GetLastError();
  set.store(true);
  EXPECT_TRUE(queue->Wait());
  if (ok) EXPECT_EQ(nice.load(), -20);
  else EXPECT_EQ(error, kErrorAccessDenied);
  CloseHandle(thread);
}

}  // namespace
}  // namespace platform
