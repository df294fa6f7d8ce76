// A product that answers later than the command time-out: the library call
// fails within the time-out it was given, on the station clock.
#include <string>

#include <gtest/gtest.h>

#include "bridge/tests/bench_fixture.h"
#include "platform/clock.h"
#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

TEST(TimeOut, AReplyLaterThanTheTimeOutFailsTheCallWithinIt) {
  sim::ProductConfig config;
  config.name = "slow";
  config.chipType = 25;
  config.disk.sectors = 65536;
  LibraryBench lib({config});
  ASSERT_TRUE(lib.bound());
  const std::string path = lib.List().at(0);
  const auto& sdk = lib.sdk();
  // One platform per process: the library's time-out is the one the test reads.
  const bridge::testing::ScopedScsiTimeout restore(bridge::SCSITimeout());
  ASSERT_NE(sdk.QV_SetSCSITimeOut(3), 0);
  EXPECT_EQ(bridge::SCSITimeout(), 3);
  sim::Fault late = bridge::testing::MakeFault(sim::Fault::Kind::Delay, {0x12});
  late.delayMs = 600000;
  lib.product(0).AddFault(late);

  uint8_t inquiry[40] = {};
  int available = 0;
  const uint64_t before = platform::GetTickCount64();
  EXPECT_EQ(sdk.QV_Inquiry(path.c_str(), inquiry, 40, &available), 0);
  const uint64_t took = platform::GetTickCount64() - before;
  EXPECT_GE(took, 3000u);
  EXPECT_LT(took, 10000u) << "the call waited for the reply";
  EXPECT_EQ(lib.product(0).FaultsFired(), 1);
  // The product answers the next command in time.
  EXPECT_GT(sdk.QV_Inquiry(path.c_str(), inquiry, 40, &available), 0);
}

}  // namespace
}  // namespace qvfw
