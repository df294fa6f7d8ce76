#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/memory.h"

namespace {

using platform::RecordingMessageBoxSink;

TEST(MessageBoxTest, RecordsAndAnswersFromQueueThenDefault) {
  RecordingMessageBoxSink sink;
  platform::ScopedMessageBoxSink installed(&sink);
  sink.QueueAnswer(platform::kIdNo);
  EXPECT_EQ(platform::MessageBox("Overwrite?", "Warning", platform::kMbYesNo), platform::kIdNo);
  EXPECT_EQ(platform::MessageBox("Again?", "Warning", platform::kMbYesNo), platform::kIdYes);
  EXPECT_EQ(platform::MessageBox("Done", "Message", platform::kMbOk), platform::kIdOk);
  const auto boxes = sink.boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Overwrite?");
  EXPECT_EQ(boxes[0].caption, "Warning");
  EXPECT_EQ(boxes[2].flags, platform::kMbOk);
}

// A worker's box is shown on the interface thread, and the worker waits for
// the answer.
TEST(MessageBoxTest, WorkerBoxBlocksUntilInterfaceThreadAnswers) {
  RecordingMessageBoxSink shown;
  shown.QueueAnswer(platform::kIdCancel);
  std::atomic<int> wakes{0};
  platform::UiThreadMessageBoxSink ui(shown, [&] { wakes.fetch_add(1); });
  platform::ScopedMessageBoxSink installed(&ui);

  std::atomic<int> answer{0};
  std::thread worker([&] {
    answer.store(platform::MessageBox("Format failed", "Error", platform::kMbOkCancel));
  });
  while (wakes.load() == 0) std::this_thread::yield();
  // Woken, but nothing is answered before the interface thread pumps.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(answer.load(), 0);
  EXPECT_TRUE(shown.boxes().empty());
  ui.Pump();
  worker.join();
  EXPECT_EQ(answer.load(), platform::kIdCancel);
  ASSERT_EQ(shown.boxes().size(), 1u);
  EXPECT_EQ(shown.boxes()[0].caption, "Error");
}

TEST(MessageBoxTest, InterfaceThreadBoxIsShownDirectly) {
  RecordingMessageBoxSink shown;
  platform::UiThreadMessageBoxSink ui(shown, nullptr);
  platform::ScopedMessageBoxSink installed(&ui);
  EXPECT_EQ(platform::MessageBox("x", "Message", platform::kMbOk), platform::kIdOk);
  EXPECT_EQ(shown.boxes().size(), 1u);
}

TEST(MessageBoxTest, CloseReleasesWaitingWorkers) {
  RecordingMessageBoxSink shown;
  std::atomic<int> wakes{0};
  platform::UiThreadMessageBoxSink ui(shown, [&] { wakes.fetch_add(1); });
  platform::ScopedMessageBoxSink installed(&ui);
  std::atomic<int> answer{0};
  std::thread worker([&] { answer.store(platform::MessageBox("x", "Error", platform::kMbYesNo)); });
  while (wakes.load() == 0) std::this_thread::yield();
  ui.Close();
  worker.join();
  EXPECT_EQ(answer.load(), platform::kIdYes);
  EXPECT_TRUE(shown.boxes().empty());
}

TEST(MemoryTest, AllocationFaultHitsTheChosenAllocationOnly) {
  platform::FailAllocationAfter(1);
  void* first = platform::HeapAllocZeroed(16);
  void* second = platform::HeapAllocZeroed(16);
  void* third = platform::HeapAllocZeroed(16);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  platform::HeapFree(first);
  platform::HeapFree(third);
  platform::FailAllocationAfter(-1);
}

}  // namespace
