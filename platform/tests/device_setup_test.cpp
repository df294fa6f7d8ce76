// Interface lists, the detail record's two-call protocol and the device
// tree, against a bench with USB storage, a UAS disk, a CD-ROM and a mouse.
#include "platform/device_setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/device_io.h"
#include "platform/tests/bench_text_fixture.h"
#include "sim/bench.h"

namespace {

using namespace platform;

constexpr const char* kBench = R"(
[system]
system_disk = 1
[hub root]
[hub ext]
parent = root
port = 4
[product disk]
serial = DISK0001
[product uas]
chip = 25
uas = 1
serial = UAS00001
[product cd]
chip = 1
cdrom = 1
serial = CD000001
[device mouse]
hub = ext
serial = M1
)";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class DeviceSetupTest : public platform::testing::BenchTextTest {
 protected:
  DeviceSetupTest() : BenchTextTest(kBench) {}

  // Paths of a class's interfaces, read as the enumeration does.
  std::vector<std::string> Paths(const Guid& guid) {
    std::vector<std::string> paths;
    DevInfoHandle set = GetClassDevices(guid, kDigcfPresent | kDigcfDeviceInterface);
    EXPECT_NE(set, kInvalidDevInfo);
    for (uint32_t i = 0;; ++i) {
      DeviceInterfaceData data{};
      data.cbSize = sizeof data;
      if (!EnumDeviceInterfaces(set, guid, i, &data)) {
        EXPECT_EQ(GetLastError(), kErrorNoMoreItems);
        break;
      }
      uint32_t size = 0;
      EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, nullptr, 0, &size, nullptr));
      EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
      std::vector<uint8_t> buffer(size);
      auto* detail = reinterpret_cast<DeviceInterfaceDetail*>(buffer.data());
      detail->cbSize = kDeviceInterfaceDetailSize;
      EXPECT_TRUE(GetDeviceInterfaceDetail(set, &data, detail, size, nullptr, nullptr));
      paths.emplace_back(reinterpret_cast<const char*>(buffer.data() + 4));
    }
    DestroyDeviceInfoList(set);
    return paths;
  }

  // The device id of the first node (depth first) whose driver key is `key`.
  std::string FindIdByDriverKey(const std::string& key) {
    DevInst node = 0;
    if (LocateRootNode(&node) != kCrSuccess) return {};
    for (;;) {
      char text[512];
      uint32_t size = sizeof text;
      if (GetDriverKey(node, text, &size) == kCrSuccess && Lower(text) == Lower(key)) {
        EXPECT_EQ(GetDeviceId(node, text, sizeof text), kCrSuccess);
        return text;
      }
      DevInst next = 0;
      if (GetChild(&next, node) == kCrSuccess) {
        node = next;
        continue;
      }
      while (GetSibling(&next, node) != kCrSuccess)
        if (GetParent(&node, node) != kCrSuccess) return {};
      node = next;
    }
  }
};

TEST_F(DeviceSetupTest, ListsEachInterfaceClassWithItsPathShapes) {
  const auto disks = Paths(kGuidDevInterfaceDisk);
  ASSERT_EQ(disks.size(), 3u);  // the system's disk, the usbstor disk, the UAS disk
  EXPECT_NE(disks[0].find("scsi#disk&ven_nvme"), std::string::npos);
  EXPECT_EQ(disks[1], bench_->FindByName("disk")->path());
  EXPECT_NE(disks[1].find("usbstor#disk&ven_kestrova&prod_sim_bridge&rev_0100#disk0001&0#{53f56307"), std::string::npos);
  EXPECT_NE(disks[2].find("\\\\?\\scsi#disk&ven_kestrova&prod_sim_bridge#"), std::string::npos);
  const auto cdroms = Paths(kGuidDevInterfaceCdRom);
  ASSERT_EQ(cdroms.size(), 1u);
  EXPECT_NE(cdroms[0].find("usbstor#cdrom&"), std::string::npos);
  EXPECT_NE(cdroms[0].find("{53f56308-"), std::string::npos);
  const auto hubs = Paths(kGuidDevInterfaceUsbHub);
  EXPECT_EQ(hubs.size(), 2u);

  bench_->FindByName("disk")->Unplug();
  EXPECT_EQ(Paths(kGuidDevInterfaceDisk).size(), 2u);
}

TEST_F(DeviceSetupTest, DetailRecordFollowsTheTwoCallProtocol) {
  DevInfoHandle set = GetClassDevices(kGuidDevInterfaceDisk, kDigcfPresent | kDigcfDeviceInterface);
  DeviceInterfaceData data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(EnumDeviceInterfaces(set, kGuidDevInterfaceDisk, 1, &data));
  const std::string path = bench_->FindByName("disk")->path();
  uint32_t size = 0;
  DevInfoData info{};
  info.cbSize = sizeof info;
  EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, nullptr, 0, &size, &info));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(size, DeviceInterfaceDetailBytes(path.size()));
  EXPECT_NE(info.devInst, 0u);

  std::vector<uint8_t> buffer(size + 8, 0xCC);
  auto* detail = reinterpret_cast<DeviceInterfaceDetail*>(buffer.data());
  detail->cbSize = sizeof(DeviceInterfaceDetail);  // the whole struct's size is wrong: 5 is asked
  EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, detail, size, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidUserBuffer);
  detail->cbSize = kDeviceInterfaceDetailSize;
  EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, detail, size - 1, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
  ASSERT_TRUE(GetDeviceInterfaceDetail(set, &data, detail, size, nullptr, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data() + 4)), path);
  EXPECT_EQ(buffer[size], 0xCC);

  data.cbSize = 4;
  EXPECT_FALSE(EnumDeviceInterfaces(set, kGuidDevInterfaceDisk, 0, &data));
  data.cbSize = sizeof data;
  EXPECT_FALSE(EnumDeviceInterfaces(set, kGuidDevInterfaceCdRom, 0, &data));
  EXPECT_EQ(GetLastError(), kErrorNoMoreItems);
  DestroyDeviceInfoList(set);
}

// The tail match of the storage enumeration: a disk node's id, less its
// class prefix and with its first "\" made "#", lies in its interface path,
// and its parent is the USB device the hub walk finds by driver key.
TEST_F(DeviceSetupTest, DiskNodesHangBelowTheirUsbDeviceAndMatchTheirPathByTail) {
  DevInfoHandle set = GetClassDevices(kGuidDevClassDiskDrive, kDigcfPresent);
  std::vector<std::string> parents;
  for (uint32_t i = 0;; ++i) {
    DevInfoData info{};
    info.cbSize = sizeof info;
    if (!EnumDeviceInfo(set, i, &info)) break;
    char id[512];
    ASSERT_EQ(GetDeviceId(info.devInst, id, sizeof id), kCrSuccess);
    const std::string lower = Lower(id);
    const size_t prefix = lower.rfind("usbstor\\", 0) == 0 ? 8 : lower.rfind("scsi\\", 0) == 0 ? 5 : 0;
    ASSERT_NE(prefix, 0u) << id;
    std::string tail = lower.substr(prefix);
    tail[tail.find('\\')] = '#';
    DevInst parent = 0;
    ASSERT_EQ(GetParent(&parent, info.devInst), kCrSuccess);
    ASSERT_EQ(GetDeviceId(parent, id, sizeof id), kCrSuccess);
    parents.push_back(id);
    const auto disks = Paths(kGuidDevInterfaceDisk);
    EXPECT_EQ(std::count_if(disks.begin(), disks.end(),
                            [&](const std::string& p) { return p.find(tail) != std::string::npos; }),
              1)
        << tail;
  }
  DestroyDeviceInfoList(set);
  ASSERT_EQ(parents.size(), 3u);
  EXPECT_EQ(parents[1], bench_->FindByName("disk")->usbInstanceId());
  EXPECT_EQ(parents[2], bench_->FindByName("uas")->usbInstanceId());
  EXPECT_EQ(parents[1], "USB\\VID_1D6B&PID_0100\\DISK0001");
}

TEST_F(DeviceSetupTest, TreeLinksAgreeAndDriverKeysFindTheirNodes) {
  DevInst root = 0;
  ASSERT_EQ(LocateRootNode(&root), kCrSuccess);
  DevInst none = 0;
  EXPECT_EQ(GetParent(&none, root), kCrNoSuchDevNode);
  // Every child's parent is the node it was reached from; every node's
  // driver key leads back to it.
  std::vector<DevInst> stack = {root};
  int nodes = 0, keyed = 0;
  while (!stack.empty()) {
    const DevInst node = stack.back();
    stack.pop_back();
    ++nodes;
    char key[128];
    uint32_t size = sizeof key;
    if (GetDriverKey(node, key, &size) == kCrSuccess) {
      ++keyed;
      char id[512];
      ASSERT_EQ(GetDeviceId(node, id, sizeof id), kCrSuccess);
      EXPECT_EQ(FindIdByDriverKey(key), id);
    }
    DevInst child = 0;
    for (uint32_t cr = GetChild(&child, node); cr == kCrSuccess; cr = GetSibling(&child, child)) {
      DevInst parent = 0;
      ASSERT_EQ(GetParent(&parent, child), kCrSuccess);
      EXPECT_EQ(parent, node);
      stack.push_back(child);
    }
  }
  EXPECT_GE(nodes, 12);
  EXPECT_EQ(keyed, nodes - 1);  // all but the root
  char key[8];
  uint32_t size = 0;
  EXPECT_EQ(GetDriverKey(root, nullptr, &size), kCrNoSuchValue);
  DevInst hubNode = 0;
  ASSERT_EQ(GetChild(&hubNode, root), kCrSuccess);
  size = sizeof key;
  EXPECT_EQ(GetDriverKey(hubNode, key, &size), kCrBufferSmall);
  EXPECT_GT(size, sizeof key);
  char id[6];
  EXPECT_EQ(GetDeviceId(hubNode, id, sizeof id), kCrBufferSmall);
  EXPECT_EQ(std::string(id), "PCI\\V");
  EXPECT_EQ(GetDeviceId(9999, id, sizeof id), kCrInvalidDevNode);
}

TEST_F(DeviceSetupTest, AnUnpluggedProductLeavesTheTree) {
  sim::Product& p = *bench_->FindByName("disk");
  const std::string id = p.usbInstanceId();
  auto present = [&] {
    DevInst root = 0;
    EXPECT_EQ(LocateRootNode(&root), kCrSuccess);
    std::vector<DevInst> stack = {root};
    while (!stack.empty()) {
      const DevInst node = stack.back();
      stack.pop_back();
      char text[512];
      if (GetDeviceId(node, text, sizeof text) == kCrSuccess && id == text) return true;
      DevInst child = 0;
      for (uint32_t cr = GetChild(&child, node); cr == kCrSuccess; cr = GetSibling(&child, child))
        stack.push_back(child);
    }
    return false;
  };
  EXPECT_TRUE(present());
  p.Unplug();
  EXPECT_FALSE(present());
  p.Plug();
  EXPECT_TRUE(present());
}

}  // namespace
