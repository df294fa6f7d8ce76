// The second program's disk helpers: its re-scan under its own lock, the
// capacity tolerance and the free-space window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <limits>
#include <mutex>
#include <thread>

#include "disk/device_lock.h"
#include "sdkstation/disk_checks.h"
#include "sdkstation/tests/sdk_fixture.h"
#include "sim/system_faults.h"

namespace sdkstation {
namespace {

using ::testing::ElementsAre;

TEST(CapacityTolerance, Table) {
  struct Case {
    uint64_t capacityMB;
    int32_t expectedGB;
    int32_t tolerance;
    int accepted;
  };
  constexpr uint64_t k465GB = 476938;  // 465.76 GB: 34 GB off 500 GB, 7.3 % of the disk
  const Case cases[] = {
      {0, 500, 10, 0},
      {k465GB, 500, 10, 1},
      {k465GB, 500, 5, 0},
      {512000, 500, 0, 0},  // exact: a difference of 0 is not below a tolerance of 0
      {512000, 500, 1, 1},
      {std::numeric_limits<uint64_t>::max(), 500, 10, 0},
      {1024, std::numeric_limits<int32_t>::max(), 10, 0},
      {1024, std::numeric_limits<int32_t>::min(), 10, 0},
      {k465GB, 500, -10, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.capacityMB << " MB, " << c.expectedGB << " GB, " << c.tolerance << " %");
    StationOptions options;
    options.EnCapacityErrorRange = c.tolerance;
    EXPECT_EQ(IsCapacityWithinTolerance(options, c.capacityMB, c.expectedGB), c.accepted);
  }
}

class SdkDiskChecks : public testing::SdkTest {};

TEST_F(SdkDiskChecks, FreeSpaceWindow) {
  Bench("[product a]\nchip = 21\nvolume.free = 1G\n[product b]\nchip = 21\nletters = -\n");
  const std::string withVolume = bench_->product(0).path();
  const std::string withoutVolume = bench_->product(1).path();
  constexpr int64_t kFree = 1024LL * 1024 * 1024;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  struct Case {
    const std::string& path;
    int64_t expected;
    int64_t deviation;
    int accepted;
  };
  const Case cases[] = {
      {withVolume, kFree, 0, 1},
      {withVolume, kFree + 1, 0, 0},
      {withVolume, kFree - 1, 0, 0},
      {withVolume, kFree - 5, 5, 1},
      {withVolume, kFree + 6, 5, 0},
      {withVolume, kFree, -5, 1},       // a negative deviation counts as 0
      {withVolume, kFree + 1, -5, 0},
      {withVolume, kMax, kMax, 1},      // no overflow of free + deviation
      {withVolume, kFree - kMax, kMax, 1},  // nor of free - deviation
      {withVolume, kFree - kMax - 1, kMax, 0},
      {withoutVolume, 0, 0, 1},
      {withoutVolume, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.path << " " << c.expected << " +- " << c.deviation);
    EXPECT_EQ(CheckFreeSpaceRange(c.path.c_str(), c.expected, c.deviation), c.accepted);
  }
}

bool HeldElsewhere(platform::CriticalSection& lock) {
  return std::async(std::launch::async, [&] {
           std::unique_lock<platform::CriticalSection> probe(lock, std::try_to_lock);
           return !probe.owns_lock();
         }).get();
}

TEST_F(SdkDiskChecks, TheRescanTakesItsOwnLockNotTheDeviceLock) {
  Bench("[product a]\nchip = 21\n");
  testing::DebugLines debug;
  platform::CriticalSection rescanLock;
  // A format elsewhere holds the device lock for the whole re-scan.
  std::promise<void> release;
  std::promise<void> held;
  std::thread format([&] {
    std::lock_guard<platform::CriticalSection> lock(disk::DeviceLock());
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  EXPECT_EQ(QV_RescanDisk(rescanLock), 1);
  release.set_value();
  format.join();
  EXPECT_THAT(debug.Take("RD Debug:"), ElementsAre(kRescanEnterTrace, kRescanExitTrace));
  EXPECT_FALSE(HeldElsewhere(rescanLock));
  size_t runs = 0;
  for (const std::string& command : bench_->CommandLog()) runs += command.find("diskpart.exe") != std::string::npos;
  EXPECT_EQ(runs, 2u);
}

TEST_F(SdkDiskChecks, AFailedRescanLeavesNoExitTraceAndFreesItsLock) {
  Bench("[product a]\nchip = 21\n");
  testing::DebugLines debug;
  platform::CriticalSection rescanLock;
  sim::SystemFault fault;
  fault.op = sim::SystemOp::Start;
  fault.target = "cmd.exe";
  fault.count = -1;
  fault.error = 2;
  bench_->AddSystemFault(fault);
  EXPECT_EQ(QV_RescanDisk(rescanLock), 0);
  EXPECT_THAT(debug.Take("RD Debug:"), ElementsAre(kRescanEnterTrace));
  EXPECT_FALSE(HeldElsewhere(rescanLock));
}

}  // namespace
}  // namespace sdkstation
