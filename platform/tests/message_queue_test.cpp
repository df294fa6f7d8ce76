// Messages for the interface thread: coalesced posts from many threads, the
// wake descriptor, synchronous sends and closing.
#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

bool Readable(const MessageQueue& queue) {
  pollfd fd{queue.WakeDescriptor(), POLLIN, 0};
  return ::poll(&fd, 1, 0) == 1;
}

TEST(MessageQueueTest, PostsBeforeTheHandlerRunsMakeOneCallInFirstPostOrder) {
  MessageQueue queue;
  std::string calls;
  queue.SetHandler(1, [&] { calls += 'a'; });
  queue.SetHandler(2, [&] { calls += 'b'; });
  EXPECT_FALSE(Readable(queue));
  std::vector<std::thread> posters;
  for (int t = 0; t < 8; ++t)
    posters.emplace_back([&queue, t] {
      for (int i = 0; i < 100; ++i) EXPECT_TRUE(queue.Post(t == 0 && i == 0 ? 2 : 1 + (i % 2)));
    });
  for (auto& t : posters) t.join();
  EXPECT_TRUE(Readable(queue));
  EXPECT_TRUE(queue.Wait(0));
  EXPECT_EQ(queue.Dispatch(), 2);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_FALSE(Readable(queue));
  EXPECT_EQ(queue.Dispatch(), 0);

  // A message posted by its own handler waits for the next round.
  calls.clear();
  queue.SetHandler(1, [&] {
    calls += 'a';
    if (calls.size() == 1) queue.Post(1);
  });
  queue.Post(1);
  EXPECT_EQ(queue.Dispatch(), 1);
  EXPECT_TRUE(Readable(queue));
  EXPECT_EQ(queue.Dispatch(), 1);
  EXPECT_EQ(calls, "aa");
}

// Whatever a poster wrote before its post is seen by a handler run after it:
// the last value is never left unhandled, however the posts interleave with
// the dispatching.
TEST(MessageQueueTest, NoPostIsLostWhileDispatching) {
  MessageQueue queue;
  constexpr int kThreads = 16, kPosts = 2000;
  std::atomic<int> written[kThreads] = {};
  int seen[kThreads] = {};
  queue.SetHandler(7, [&] {
    for (int t = 0; t < kThreads; ++t) seen[t] = written[t].load();
  });
  std::atomic<int> done{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 1; i <= kPosts; ++i) {
        written[t].store(i);
        queue.Post(7);
      }
      done.fetch_add(1);
    });
  int rounds = 0;
  while (done.load() < kThreads || queue.Wait(0)) {
    if (queue.Wait(50)) rounds += queue.Dispatch();
  }
  for (auto& t : posters) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], kPosts) << t;
  EXPECT_GE(rounds, 1);
  EXPECT_LT(rounds, kThreads * kPosts);  // coalesced
}

TEST(MessageQueueTest, SendWaitsForItsHandlerUnlessAbandoned) {
  MessageQueue queue;
  std::atomic<int> drawn{0};
  queue.SetHandler(3, [&] { drawn.fetch_add(1); });
  std::atomic<bool> abandon{false};
  std::atomic<int> sent{0};
  std::thread sender([&] {
    for (int i = 0; i < 5; ++i) {
      EXPECT_TRUE(queue.Send(3, abandon));
      // Each send returned only after its frame was drawn.
      EXPECT_GE(drawn.load(), i + 1);
      sent.fetch_add(1);
    }
  });
  while (sent.load() < 5) {
    if (queue.Wait(50)) queue.Dispatch();
  }
  sender.join();

  // Nobody dispatches any more: an abandoned send comes back.
  std::thread late([&] { EXPECT_FALSE(queue.Send(3, abandon)); });
  EXPECT_TRUE(queue.Wait());  // its post arrived
  abandon.store(true);
  queue.ReleaseSenders();
  late.join();

  abandon.store(false);
  std::thread closed([&] { EXPECT_FALSE(queue.Send(3, abandon)); });
  EXPECT_TRUE(queue.Wait());
  queue.Close();
  closed.join();
  EXPECT_FALSE(queue.Post(3));
  EXPECT_FALSE(Readable(queue));
}

}  // namespace
}  // namespace platform
