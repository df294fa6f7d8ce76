// Safe removal on the bench: removing a product's USB node takes the
// product and its disk off until it is plugged in again; a product held open
// vetoes with the holder's name; each request takes the bench's delay.
#include "sim/device_removal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/device_setup.h"
#include "sim/bench.h"

namespace {

using namespace platform;

std::vector<std::string> DiskPaths() {
  std::vector<DeviceInterfaceEntry> entries;
  EXPECT_TRUE(CurrentBackend().ListDeviceInterfaces(kGuidDevInterfaceDisk, &entries));
  std::vector<std::string> paths;
  for (const auto& e : entries) paths.push_back(e.path);
  return paths;
}

DevInst DiskNodeOf(const sim::Product& product) {
  std::vector<DeviceInterfaceEntry> entries;
  CurrentBackend().ListDeviceInterfaces(kGuidDevInterfaceDisk, &entries);
  for (const auto& e : entries)
    if (e.path == product.path()) return e.node;
  return 0;
}

class DeviceRemovalTest : public ::testing::Test {
 protected:
  DeviceRemovalTest()
      : bench_(std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{Config("a"), Config("b")})),
        installed_(bench_),
        clock_(1000) {}
  static sim::ProductConfig Config(const std::string& name) {
    sim::ProductConfig p;
    p.name = name;
    p.chipType = 21;
    p.usbSerial = "SN" + name;
    return p;
  }
  std::shared_ptr<sim::Bench> bench_;
  ScopedBackend installed_;
  ScopedClockScale clock_;
};

TEST_F(DeviceRemovalTest, RemovalTakesTheSubtreeOffUntilPlugged) {
  sim::Product& a = bench_->product(0);
  sim::Product& b = bench_->product(1);
  ASSERT_EQ(DiskPaths().size(), 2u);
  const DevInst diskNode = DiskNodeOf(a);
  DeviceNodeInfo info;
  ASSERT_TRUE(CurrentBackend().GetNode(diskNode, &info));
  EXPECT_EQ(info.parent, a.usbNode());

  uint32_t veto = 99;
  char name[520] = "x";
  EXPECT_EQ(QueryAndRemoveSubTree(a.usbNode(), &veto, name, sizeof name, kCmRemoveNoRestart), kCrSuccess);
  EXPECT_EQ(veto, kPnpVetoTypeUnknown);
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(a.Online());
  EXPECT_EQ(DiskPaths(), std::vector<std::string>{b.path()});
  EXPECT_FALSE(CurrentBackend().GetNode(a.usbNode(), &info));
  EXPECT_FALSE(CurrentBackend().GetNode(diskNode, &info));
  // Gone already: a second request finds no node.
  EXPECT_EQ(RequestDeviceEject(a.usbNode(), &veto, name, sizeof name, 0), kCrNoSuchDevNode);

  // The disk node names its product too; eject acts as removal.
  EXPECT_EQ(RequestDeviceEject(DiskNodeOf(b), nullptr, nullptr, 0, 0), kCrSuccess);
  EXPECT_TRUE(DiskPaths().empty());

  a.Plug();
  EXPECT_EQ(DiskPaths(), std::vector<std::string>{a.path()});
  // Neither the root nor a hub is a product.
  EXPECT_EQ(QueryAndRemoveSubTree(CurrentBackend().RootNode(), &veto, name, sizeof name, 2), kCrInvalidDevNode);
}

TEST_F(DeviceRemovalTest, HeldOpenVetoesWithTheHoldersNameAfterTheDelay) {
  sim::Product& a = bench_->product(0);
  bench_->removal().HoldOpen(a, "STORAGE\\Volume\\held-by-editor");
  bench_->removal().SetDelay(300);
  uint32_t veto = 0;
  char name[16];
  const uint64_t before = GetTickCount64();
  EXPECT_EQ(QueryAndRemoveSubTree(a.usbNode(), &veto, name, sizeof name, kCmRemoveNoRestart), kCrRemoveVetoed);
  EXPECT_GE(GetTickCount64() - before, 300u);
  EXPECT_EQ(veto, kPnpVetoOutstandingOpen);
  EXPECT_STREQ(name, "STORAGE\\Volume\\");  // cut to the buffer with its terminator
  EXPECT_TRUE(a.Online());
  EXPECT_EQ(bench_->removal().Requests(a), 1);

  bench_->removal().Release(a);
  EXPECT_EQ(QueryAndRemoveSubTree(a.usbNode(), nullptr, nullptr, 0, 2), kCrSuccess);
  EXPECT_FALSE(a.Online());
  EXPECT_EQ(bench_->removal().Requests(a), 2);
}

}  // namespace
