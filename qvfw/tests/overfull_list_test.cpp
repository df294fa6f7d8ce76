// Seventeen bridges on the station: every listing the library makes holds
// sixteen, says so through its answer and once in the debug output, and no
// entry opens a window, from whichever thread it is called.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "qvfw/tests/library_bench.h"
#include "sdkstation/tests/sdk_fixture.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

constexpr char kPortIndexExceeded[] = "Error: Port index exceeds maximum value 16.";

std::vector<sim::ProductConfig> Bridges(int count) {
  std::vector<sim::ProductConfig> products;
  for (int i = 0; i < count; ++i) {
    sim::ProductConfig config;
    config.name = "p" + std::to_string(i);
    config.chipType = 25;
    config.usbSerial = "SN" + std::to_string(100 + i);
    config.disk.sectors = 65536;
    products.push_back(config);
  }
  return products;
}

TEST(OverfullList, SeventeenBridgesListSixteenWithoutABox) {
  LibraryBench lib(Bridges(17));
  ASSERT_TRUE(lib.bound());
  platform::RecordingMessageBoxSink boxes;
  platform::ScopedMessageBoxSink boxScope(&boxes);
  sdkstation::testing::DebugLines debug;

  constexpr int kThreads = 4;
  constexpr int kRounds = 5;
  std::vector<int> answers(kThreads * kRounds, 0);
  std::vector<int> counts(kThreads * kRounds, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        sdkstation::DeviceList list;
        int count = -1;
        const size_t at = static_cast<size_t>(t * kRounds + round);
        answers[at] = lib.sdk().QV_GetDeviceList(list.buffers(), &count);
        counts[at] = count;
        // A path no listing knows makes one more listing.
        int port = 0;
        EXPECT_EQ(lib.sdk().QV_GetHubPortIndex("\\\\?\\usbstor#nothing#here", &port), 0);
      }
    });
  }
  for (std::thread& t : threads) t.join();

  for (size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(answers[i], kListOverfull) << i;
    EXPECT_EQ(counts[i], kMaxDevices) << i;
  }
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes().front().text;
  const auto lines = debug.Take(kPortIndexExceeded);
  EXPECT_EQ(lines.size(), 2u * kThreads * kRounds) << "once per listing";
}

TEST(OverfullList, SixteenBridgesAreAFullListAndNoMessage) {
  LibraryBench lib(Bridges(16));
  sdkstation::testing::DebugLines debug;
  sdkstation::DeviceList list;
  int count = -1;
  EXPECT_EQ(lib.sdk().QV_GetDeviceList(list.buffers(), &count), 1);
  EXPECT_EQ(count, kMaxDevices);
  EXPECT_TRUE(debug.Take(kPortIndexExceeded).empty());
}

}  // namespace
}  // namespace qvfw
