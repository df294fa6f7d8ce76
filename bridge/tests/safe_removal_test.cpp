// Safe removal on the bench: a product whose volume is held open vetoes
// every try and stays; the other leaves at the first.
#include <memory>

#include <gtest/gtest.h>

#include "bridge/safe_removal.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/device_setup.h"
#include "platform/files.h"
#include "sim/bench.h"

namespace {

TEST(SafeRemoval, AVolumeHeldOpenVetoesEveryTryAndTheOtherProductLeaves) {
  platform::ScopedClockScale fast(1000.0);
  sim::BenchConfig config;
  for (const char* letters : {"E", "F"}) {
    sim::ProductConfig p;
    p.name = letters;
    p.usbSerial = std::string("SER") + letters;
    p.disk.sectors = 65536;
    p.volume.letters = letters;
    p.volume.autoLetter = false;
    config.products.push_back(p);
  }
  auto bench = std::make_shared<sim::Bench>(config);
  platform::ScopedBackend installed(bench);

  // The USB device node of each product's disk.
  std::vector<platform::DeviceInterfaceEntry> disks;
  ASSERT_TRUE(bench->ListDeviceInterfaces(platform::kGuidDevInterfaceDisk, &disks));
  ASSERT_EQ(disks.size(), 2u);
  platform::DevInst usb[2] = {};
  for (int i = 0; i < 2; ++i) ASSERT_EQ(platform::GetParent(&usb[i], disks[static_cast<size_t>(i)].node), platform::kCrSuccess);

  const platform::Handle held = platform::CreateFile("\\\\.\\E:", platform::kAccessRead,
                                                     platform::kShareRead | platform::kShareWrite,
                                                     platform::kOpenExisting, 0);
  ASSERT_NE(held, platform::kInvalidHandle);
  const uint64_t before = platform::GetTickCount64();
  EXPECT_EQ(bridge::RemoveDeviceSafely(usb[0]), 0);
  EXPECT_GE(platform::GetTickCount64() - before, bridge::kSafeRemovalTries * bridge::kSafeRemovalRetryMs);
  EXPECT_TRUE(bench->product(0).Online());
  EXPECT_EQ(bridge::RemoveDeviceSafely(usb[1]), 1);
  EXPECT_FALSE(bench->product(1).Online());
  platform::CloseHandle(held);
  EXPECT_EQ(bridge::RemoveDeviceSafely(usb[0]), 1);
  EXPECT_FALSE(bench->product(0).Online());
  EXPECT_EQ(bridge::RemoveDeviceSafely(usb[0]), 0) << "a node that is gone";
}

}  // namespace
