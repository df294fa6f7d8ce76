// Safe removal of one product on the bench: a free product goes with its
// first request; one held open by another program is asked five times,
// half a second apart, and stays.
#include "station/safe_removal.h"

#include <gtest/gtest.h>

#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"
#include "sim/device_removal.h"

namespace station {
namespace {

TEST(SafeRemovalTest, FreeProductGoesHeldProductStays) {
  std::string error;
  auto bench = sim::Bench::FromText("[product free]\nchip = 21\n[product held]\nchip = 21\n", &error);
  ASSERT_TRUE(bench) << error;
  platform::ScopedBackend installed(bench);
  platform::ScopedClockScale fast(1000);
  sim::Product& free = bench->product(0);
  sim::Product& held = bench->product(1);
  bench->removal().HoldOpen(held, "STORAGE\\Volume\\{held}");

  EXPECT_EQ(SafeRemoveThread(free.usbNode()), 0u);
  EXPECT_FALSE(free.Online());
  EXPECT_EQ(bench->removal().Requests(free), 1);

  const uint64_t before = platform::GetTickCount64();
  EXPECT_EQ(SafeRemoveThread(held.usbNode()), 0u);
  EXPECT_GE(platform::GetTickCount64() - before, kSafeRemoveTries * kSafeRemoveRetryMs);
  EXPECT_TRUE(held.Online());
  // Each try: the query, the eject after its refusal, the eject after the pause.
  EXPECT_EQ(bench->removal().Requests(held), 3 * kSafeRemoveTries);

  // Let go of: the next removal takes it.
  bench->removal().Release(held);
  EXPECT_EQ(SafeRemoveThread(held.usbNode()), 0u);
  EXPECT_FALSE(held.Online());
}

}  // namespace
}  // namespace station
