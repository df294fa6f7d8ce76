#include "station/pass_state.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "station/worker_job.h"

namespace station {
namespace {

TEST(FirmwareImage, ViewIsEmptyUntilAllocatedAndAfterRelease) {
  auto pass = std::make_unique<PassState>();
  FirmwareImage& image = pass->firmwareImage;
  EXPECT_FALSE(image.view().loaded());
  image.SetLength(100);
  EXPECT_EQ(image.length(), 0u) << "no block, no length";

  ASSERT_TRUE(image.Allocate());
  image.SetLength(kFirmwareImageSize + 1);
  EXPECT_EQ(image.length(), kFirmwareImageSize) << "the length never claims past the block";
  EXPECT_TRUE(image.view().loaded());
  EXPECT_EQ(image.data()[kFirmwareImageSize - 1], 0) << "the block starts zeroed";

  image.Release();
  EXPECT_FALSE(image.view().loaded());
  EXPECT_EQ(image.length(), 0u);
}

TEST(StationLocks, KnowWhetherTheCallingThreadHoldsThem) {
  platform::CriticalSection& device = disk::DeviceLock();
  EXPECT_NE(&device, &disk::SpeedLock());
  EXPECT_FALSE(device.HeldByCurrentThread());
  {
    disk::DeviceLockHolder outer(device);
    {
      disk::DeviceLockHolder inner(device);  // a critical section may be re-entered
      EXPECT_TRUE(device.HeldByCurrentThread());
    }
    EXPECT_TRUE(device.HeldByCurrentThread()) << "still held by the outer holder";
    EXPECT_FALSE(
        std::async(std::launch::async, [&] { return device.HeldByCurrentThread(); }).get());
    EXPECT_FALSE(std::async(std::launch::async, [&] { return device.try_lock(); }).get());
  }
  EXPECT_FALSE(device.HeldByCurrentThread());
}

TEST(WorkerJob, KeepsItsSettingsWhenTheWindowsRecordChanges) {
  SettingsBlock window = ZeroedSettingsBlock();
  SetFieldText(window.String3, "000000000001");
  WorkerJob job;
  job.settings = window;
  SetFieldText(window.String3, "000000000002");
  EXPECT_EQ(FieldText(job.settings.String3), "000000000001");
  EXPECT_FALSE(job.controls.PartitionCheckBox.Usable())
      << "a control not seen does not run its step";
}

}  // namespace
}  // namespace station
