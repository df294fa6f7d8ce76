// A product given a new identity enumerates under it after its reset, as
// hardware does: its USB device id, its disk's id and its interface path
// carry the ids, serial and INQUIRY texts it presents now.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "sim/bench.h"
#include "sim/tests/send_reset.h"
#include "sim/identity_image.h"
#include "sim/spi_flash.h"

namespace {

using namespace platform;

constexpr char kBench[] = R"(
[product renamed]
chip = 29
vid = 0x1d6b
pid = 0x0100
serial = OLD00001
[product holder]
chip = 29
serial = HELD0042
)";

using sim::testing::SendReset;

struct Listing {
  std::string path;    // the disk interface
  std::string diskId;  // its device node
  std::string usbId;   // the USB device node above it
};

// What the system lists for the product: the interface and the two nodes.
std::vector<Listing> ListDisks() {
  std::vector<DeviceInterfaceEntry> disks;
  EXPECT_TRUE(CurrentBackend().ListDeviceInterfaces(kGuidDevInterfaceDisk, &disks));
  std::vector<Listing> out;
  for (const auto& d : disks) {
    DeviceNodeInfo disk, usb;
    EXPECT_TRUE(CurrentBackend().GetNode(d.node, &disk));
    EXPECT_TRUE(CurrentBackend().GetNode(disk.parent, &usb));
    out.push_back({d.path, disk.deviceId, usb.deviceId});
  }
  return out;
}

class ReIdentity : public ::testing::Test {
 protected:
  static std::shared_ptr<sim::Bench> Make() {
    std::string error;
    auto bench = sim::Bench::FromText(kBench, &error);
    EXPECT_TRUE(bench) << error;
    return bench;
  }
  // The identity image a programming leaves in the product's flash.
  void Program(const sim::DeviceIdentity& identity) {
    bench_->product(0).WithBridge([&](sim::EmulatedBridge& b) {
      sim::EncodeIdentityImage(identity, b.flash().memory().data(), b.flash().memory().size());
      return 0;
    });
  }
  void ResetAndWait() {
    ASSERT_TRUE(SendReset(bench_->product(0).path()));
    Sleep(bench_->product(0).config().resetDelayMs + 500);
  }

  std::shared_ptr<sim::Bench> bench_ = Make();
  ScopedBackend installed_{bench_};
  ScopedClockScale fast_{1000.0};
};

TEST_F(ReIdentity, TheIdsTheSerialAndTheInquiryTextsNameTheProductAfterItsReset) {
  const std::vector<Listing> before = ListDisks();
  ASSERT_EQ(before.size(), 2u);
  EXPECT_EQ(before[0].usbId, "USB\\VID_1D6B&PID_0100\\OLD00001");
  Program({0x6A3E, 0x4649, "Orvanta", "New Bridge", "NEW0042", "ORVANTA", "NEW BRIDGE", "0100"});
  EXPECT_EQ(ListDisks()[0].usbId, before[0].usbId) << "what it booted with, until the reset";

  ResetAndWait();
  const std::vector<Listing> after = ListDisks();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].usbId, "USB\\VID_6A3E&PID_4649\\NEW0042");
  EXPECT_EQ(after[0].diskId, "USBSTOR\\DISK&VEN_ORVANTA&PROD_NEW_BRIDGE&REV_0100\\NEW0042&0");
  EXPECT_EQ(after[0].path,
            "\\\\?\\usbstor#disk&ven_orvanta&prod_new_bridge&rev_0100#new0042&0#"
            "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  EXPECT_EQ(after[1].path, before[1].path) << "the other product is untouched";
  // The old name opens nothing; the new one reaches the product.
  EXPECT_EQ(OpenDevice(before[0].path.c_str(), kAccessRead, kShareRead), kInvalidHandle);
  ScopedDevice fresh(after[0].path.c_str(), kAccessRead, kShareRead);
  EXPECT_TRUE(fresh.valid());
  EXPECT_EQ(bench_->FindByPath(after[0].path), &bench_->product(0));
}

TEST_F(ReIdentity, ASerialAnotherProductHoldsIsNamedByItsLocation) {
  Program({0x1D6B, 0x0100, "Kestrova Sim", "USB Storage Bridge", "HELD0042", "KESTROVA", "SIM BRIDGE",
           "0100"});
  ResetAndWait();
  const std::vector<Listing> after = ListDisks();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[1].usbId, "USB\\VID_1D6B&PID_0100\\HELD0042");
  EXPECT_EQ(after[0].usbId.rfind("USB\\VID_1D6B&PID_0100\\6&", 0), 0u) << after[0].usbId;
  EXPECT_NE(after[0].path, after[1].path);
}

}  // namespace
