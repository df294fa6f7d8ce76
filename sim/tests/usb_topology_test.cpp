// The bench's USB tree as the hub requests see it: hubs and their names,
// ports and connection status, descriptors and strings bounded by the
// caller's buffer, speeds, and re-enumeration after a reset.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/usb_ioctl.h"
#include "sim/bench.h"
#include "sim/tests/send_reset.h"

namespace {

using namespace platform;

constexpr const char* kTopology = R"(
[hub root]
ports = 4
[hub usb2]
root = root_hub20
ports = 2
[hub ext]
parent = root
port = 2
[hub ext2]
parent = ext
port = 4
ports = 2
speed = high
[product fast]
hub = ext
port = 1
chip = 21
speed = superplus
serial = FAST0001
[product plus]
hub = root
port = 1
chip = 27
speed = superplus
serial = PLUS0001
[product old]
hub = usb2
port = 1
chip = 4
serial = OLD00001
[product noserial]
hub = ext2
port = 1
chip = 13
serial =
[product renew]
hub = root
port = 3
chip = 25
serial = RENEW001
reset_new_path = 1
reset_delay_ms = 2000
[device mouse]
hub = usb2
port = 2
serial = M1
speed = low
product = "Optical Mouse"
)";

class UsbTopologyTest : public ::testing::Test {
 protected:
  static std::shared_ptr<sim::Bench> Make() {
    std::string error;
    auto bench = sim::Bench::FromText(kTopology, &error);
    EXPECT_TRUE(bench) << error;
    return bench;
  }

  // Opens a hub as the walk does.
  Handle OpenHub(const std::string& path) {
    Handle h = OpenDevice(path.c_str(), kAccessWrite, kShareWrite);
    EXPECT_NE(h, kInvalidHandle) << path;
    handles_.push_back(h);
    return h;
  }

  UsbNodeConnectionInformationEx ConnectionEx(Handle hub, uint32_t port) {
    UsbNodeConnectionInformationEx info{};
    info.ConnectionIndex = port;
    uint32_t returned = 0;
    EXPECT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformationEx, &info, sizeof info,
                                &info, sizeof info, &returned));
    return info;
  }

  // A descriptor request into an output of `outSize` bytes; returns the
  // bytes that came back, header included (0 on failure).
  uint32_t Descriptor(Handle hub, uint32_t port, uint16_t value, uint16_t index, uint16_t length,
                      UsbDescriptorRequest* request, uint32_t outSize = sizeof(UsbDescriptorRequest)) {
    std::memset(request, 0xCC, sizeof *request);
    request->ConnectionIndex = port;
    request->SetupPacket = {0x80, 6, value, index, length};
    uint32_t returned = 0;
    if (!DeviceIoControl(hub, kIoctlUsbGetDescriptorFromNodeConnection, request, sizeof *request,
                         request, outSize, &returned))
      return 0;
    return returned;
  }

  ~UsbTopologyTest() override {
    for (Handle h : handles_) CloseDevice(h);
  }

  std::shared_ptr<sim::Bench> bench_ = Make();
  ScopedBackend installed_{bench_};
  ScopedClockScale fast_{1000.0};
  std::vector<Handle> handles_;
};

TEST_F(UsbTopologyTest, RootHubPathsCarryTheirNamesAndDownstreamHubsOpenByConnectionName) {
  const std::string root = bench_->HubPath("root"), usb2 = bench_->HubPath("usb2");
  EXPECT_NE(root.find("root_hub30"), std::string::npos) << root;
  EXPECT_NE(usb2.find("root_hub20"), std::string::npos) << usb2;
  EXPECT_EQ(bench_->HubPath("ext").find("root_hub"), std::string::npos);

  Handle hub = OpenHub(root);
  UsbNodeInformation node{};
  uint32_t returned = 0;
  ASSERT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeInformation, &node, sizeof node, &node, sizeof node, &returned));
  EXPECT_EQ(returned, 76u);
  EXPECT_EQ(node.HubDescriptor.bNumberOfPorts, 4);

  const auto info = ConnectionEx(hub, 2);
  EXPECT_EQ(+info.ConnectionStatus, kUsbDeviceConnected);
  EXPECT_EQ(info.DeviceIsHub, 1);
  UsbNodeConnectionName name{};
  name.ConnectionIndex = 2;
  ASSERT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionName, &name, sizeof name, &name, sizeof name, &returned));
  const std::string text = WideToAnsi(name.NodeName, (name.ActualLength - 8) / 2 - 1);
  EXPECT_EQ(returned, +name.ActualLength);
  Handle ext = OpenHub("\\\\.\\" + text);
  ASSERT_TRUE(DeviceIoControl(ext, kIoctlUsbGetNodeInformation, nullptr, 0, &node, sizeof node, &returned));
  EXPECT_EQ(node.HubDescriptor.bNumberOfPorts, 4);
  EXPECT_EQ(+ConnectionEx(ext, 1).DeviceDescriptor.idVendor, bench_->FindByName("fast")->config().vid);

  // An empty port, a port past the last, a product port asked for a hub name.
  EXPECT_EQ(+ConnectionEx(hub, 4).ConnectionStatus, kUsbNoDeviceConnected);
  UsbNodeConnectionInformation plain{};
  plain.ConnectionIndex = 5;
  EXPECT_FALSE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformation, &plain, sizeof plain, &plain, sizeof plain, &returned));
  name.ConnectionIndex = 1;
  EXPECT_FALSE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionName, &name, sizeof name, &name, sizeof name, &returned));
  // Fixed records need their whole size.
  EXPECT_FALSE(DeviceIoControl(hub, kIoctlUsbGetNodeInformation, nullptr, 0, &node, 75, &returned));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
}

TEST_F(UsbTopologyTest, DriverKeyNameComesInTwoAsksBoundedByActualLength) {
  Handle hub = OpenHub(bench_->HubPath("root"));
  uint8_t small[10];
  std::memset(small, 0xCC, sizeof small);
  const uint32_t port = 1;
  std::memcpy(small, &port, 4);
  uint32_t returned = 0;
  ASSERT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionDriverKeyName, small, sizeof small, small, sizeof small, &returned));
  uint32_t actual = 0;
  std::memcpy(&actual, small + 4, 4);
  EXPECT_GT(actual, 10u);
  EXPECT_EQ(returned, 10u);
  EXPECT_EQ(small[8], 0);
  EXPECT_EQ(small[9], 0);

  std::vector<uint8_t> full(actual + 4, 0xCC);  // room to spare: nothing is written past it
  std::memcpy(full.data(), &port, 4);
  ASSERT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionDriverKeyName, full.data(), actual, full.data(), actual, &returned));
  EXPECT_EQ(returned, actual);
  std::u16string wide((actual - 8) / 2 - 1, u'\0');
  std::memcpy(wide.data(), full.data() + 8, wide.size() * 2);
  EXPECT_EQ(WideToAnsi(wide).rfind("{36fc9e60-c465-11cf-8056-444553540000}\\", 0), 0u);
  EXPECT_EQ(full[actual], 0xCC);

  EXPECT_FALSE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionDriverKeyName, small, 9, small, 9, &returned));
  const uint32_t empty = 4;
  std::memcpy(small, &empty, 4);
  EXPECT_FALSE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionDriverKeyName, small, 10, small, 10, &returned));
}

TEST_F(UsbTopologyTest, StringDescriptorsAreBoundedByLengthBufferAndBLength) {
  Handle hub = OpenHub(bench_->HubPath("root"));
  UsbDescriptorRequest r;
  // The language table, asked with a length of 4.
  ASSERT_EQ(Descriptor(hub, 1, 0x0300, 0, 4, &r), 16u);
  EXPECT_EQ(r.Data[0], 4);
  EXPECT_EQ(r.Data[1], 3);
  EXPECT_EQ(r.Data[2] | r.Data[3] << 8, 0x0409);
  EXPECT_EQ(r.Data[4], 0xCC);

  // The serial string (index 3) in full, then cut by the request length and
  // by the output buffer; bLength keeps telling the true length.
  ASSERT_EQ(Descriptor(hub, 1, 0x0303, 0x0409, 255, &r), 12u + 2 + 2 * 8);
  EXPECT_EQ(r.Data[0], 18);
  EXPECT_EQ(WideToAnsi(std::u16string(reinterpret_cast<const char16_t*>(r.Data + 2), 8)), "PLUS0001");
  EXPECT_EQ(Descriptor(hub, 1, 0x0303, 0x0409, 6, &r), 18u);
  EXPECT_EQ(r.Data[0], 18);
  EXPECT_EQ(r.Data[6], 0xCC);
  EXPECT_EQ(Descriptor(hub, 1, 0x0303, 0x0409, 255, &r, 12 + 4), 16u);
  EXPECT_EQ(r.Data[4], 0xCC);
  // No string 7: the device stalls.
  EXPECT_EQ(Descriptor(hub, 1, 0x0307, 0x0409, 255, &r), 0u);
  EXPECT_EQ(Descriptor(hub, 1, 0x0303, 0x0409, 255, &r, 11), 0u);
}

TEST_F(UsbTopologyTest, DeviceWithoutSerialStringReadsItsLanguageTableAsQuestionMark) {
  Handle ext2 = OpenHub(bench_->HubPath("ext2"));
  const auto info = ConnectionEx(ext2, 1);
  ASSERT_EQ(+info.ConnectionStatus, kUsbDeviceConnected);
  EXPECT_EQ(info.DeviceDescriptor.iSerialNumber, 0);
  UsbDescriptorRequest r;
  const uint32_t got = Descriptor(ext2, 1, 0x0300 | info.DeviceDescriptor.iSerialNumber, 0x0409, 255, &r);
  ASSERT_GT(got, 12u);
  const size_t chars = (std::min<uint32_t>(r.Data[0], got - 12) - 2) / 2;
  EXPECT_EQ(WideToAnsi(reinterpret_cast<const char16_t*>(r.Data + 2), chars), "?");
  // Known by its location instead.
  EXPECT_EQ(bench_->FindByName("noserial")->usbInstanceId().find("USB\\VID_1D6B&PID_0100\\6&"), 0u);
}

struct SpeedCase {
  const char* hub;
  uint32_t port;
  uint8_t exSpeed;
  uint32_t v2Flags;
};

class UsbSpeedTest : public UsbTopologyTest, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(UsbSpeedTest, ExSpeedByteAndV2FlagsFollowTheLinkAndTheHub) {
  const SpeedCase& c = GetParam();
  Handle hub = OpenHub(bench_->HubPath(c.hub));
  EXPECT_EQ(ConnectionEx(hub, c.port).Speed, c.exSpeed);
  UsbNodeConnectionInformationExV2 v2{c.port, 16, kUsbProtocol300, 0};
  uint32_t returned = 0;
  ASSERT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformationExV2, &v2, sizeof v2, &v2, sizeof v2, &returned));
  EXPECT_EQ(+v2.Flags, c.v2Flags);
  // Not asking about USB 3 gets no SuperSpeed flags.
  UsbNodeConnectionInformationExV2 usb2Only{c.port, 16, kUsbProtocol200, 0};
  ASSERT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformationExV2, &usb2Only, 16, &usb2Only, 16, &returned));
  EXPECT_EQ(+usb2Only.Flags, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, UsbSpeedTest,
    ::testing::Values(SpeedCase{"root", 1, kUsbSuperSpeed, 0xF},  // SuperSpeed Plus on a 3.x root
                      SpeedCase{"ext", 1, kUsbSuperSpeed, 0xB},   // capped to SuperSpeed by a 3.0 hub
                      SpeedCase{"ext2", 1, kUsbHighSpeed, 0x2},   // a USB 3 bridge behind a 2.0 hub
                      SpeedCase{"usb2", 1, kUsbHighSpeed, 0x0},   // a USB 2 bridge
                      SpeedCase{"usb2", 2, kUsbLowSpeed, 0x0}));  // the mouse

TEST_F(UsbTopologyTest, ExV2IsRefusedBeforeWindows8) {
  bench_->SetOsVersion(6, 1, 1);
  Handle hub = OpenHub(bench_->HubPath("root"));
  UsbNodeConnectionInformationExV2 v2{1, 16, kUsbProtocol300, 0};
  uint32_t returned = 0;
  EXPECT_FALSE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformationExV2, &v2, 16, &v2, 16, &returned));
  EXPECT_EQ(ConnectionEx(hub, 1).Speed, kUsbSuperSpeed);
  bench_->SetOsVersion(6, 2, 0);
  EXPECT_TRUE(DeviceIoControl(hub, kIoctlUsbGetNodeConnectionInformationExV2, &v2, 16, &v2, 16, &returned));
}

using sim::testing::SendReset;

bool Listed(const std::string& path) {
  std::vector<DeviceInterfaceEntry> disks;
  CurrentBackend().ListDeviceInterfaces(kGuidDevInterfaceDisk, &disks);
  for (const auto& d : disks)
    if (d.path == path) return true;
  return false;
}

TEST_F(UsbTopologyTest, ResetWindowReadsNotConnectedThenTheSamePortUnderANewPath) {
  sim::Product& p = *bench_->FindByName("renew");
  const std::string before = p.path(), usbId = p.usbInstanceId();
  EXPECT_NE(before.find("#renew001&0#"), std::string::npos) << before;
  Handle stale = OpenDevice(before.c_str(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  handles_.push_back(stale);
  ASSERT_TRUE(SendReset(before));

  Handle hub = OpenHub(bench_->HubPath("root"));
  EXPECT_EQ(+ConnectionEx(hub, 3).ConnectionStatus, kUsbNoDeviceConnected);
  EXPECT_FALSE(Listed(before));
  Sleep(2100);
  const auto again = ConnectionEx(hub, 3);
  EXPECT_EQ(+again.ConnectionStatus, kUsbDeviceConnected);
  EXPECT_EQ(+again.DeviceDescriptor.idProduct, p.config().pid);
  // Same USB device on the same port; its disk comes back under a new path.
  EXPECT_EQ(p.usbInstanceId(), usbId);
  const std::string after = p.path();
  EXPECT_NE(after.find("#renew001&1#"), std::string::npos) << after;
  EXPECT_TRUE(Listed(after));
  EXPECT_FALSE(Listed(before));
  EXPECT_EQ(OpenDevice(before.c_str(), kAccessRead, kShareRead), kInvalidHandle);
  StorageDeviceNumber number{};
  uint32_t returned = 0;
  EXPECT_FALSE(DeviceIoControl(stale, kIoctlStorageGetDeviceNumber, nullptr, 0, &number, sizeof number, &returned));
  EXPECT_EQ(GetLastError(), kErrorDeviceNotConnected);
  ScopedDevice fresh(after.c_str(), kAccessRead, kShareRead);
  EXPECT_TRUE(fresh.valid());
}

TEST_F(UsbTopologyTest, AProductThatKeepsItsPathComesBackUnderIt) {
  sim::Product& p = *bench_->FindByName("fast");
  const std::string before = p.path();
  ASSERT_TRUE(SendReset(before));
  EXPECT_FALSE(Listed(before));
  Sleep(1600);
  EXPECT_EQ(p.path(), before);
  EXPECT_TRUE(Listed(before));
}

TEST(BenchTopologyFileTest, OldFilesPutProductsOnTheDefaultRootHubInOrder) {
  std::string error;
  auto bench = sim::Bench::FromText("[product a]\n[product b]\nserial = 2\n[product c]\nserial = 3\n", &error);
  ASSERT_TRUE(bench) << error;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(bench->product(i).hubPort(), i + 1);
    EXPECT_NE(bench->product(i).hubName().find("root_hub30"), std::string::npos);
  }
  EXPECT_EQ(bench->HubPath("root"), bench->product(0).hubName());
}

TEST(BenchTopologyFileTest, RejectsTopologiesThatCannotBeBuilt) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"[product a]\nhub = nowhere\n", "unknown hub"},
      {"[product a]\nport = 1\n[product b]\nport = 1\n", "taken"},
      {"[hub h]\nports = 2\n[product a]\nhub = h\nport = 3\n", "no port 3"},
      {"[hub h]\nports = 1\n[product a]\nhub = h\n[product b]\nhub = h\n", "no free port"},
      {"[hub child]\nparent = later\n[hub later]\n", "declared before"},
      {"[product a]\nletters = E\n[product b]\nletters = e\n", "already taken"},
      {"[product a]\nletters = C\n", "already taken"},
      {"[product a]\nletters = E1\n", "bad value"},
      {"[product a]\nspeed = warp\n", "bad value"},
      {"[hub h]\nports = 0\n", "1-127"},
      {"[system]\nos = ten\n", "bad value"},
      {"[system]\n[system]\n", "second"},
      {"[device d]\nclass = 256\n", "bad value"},
  };
  for (const auto& c : cases) {
    sim::BenchConfig config;
    std::string error;
    EXPECT_FALSE(sim::Bench::ParseText(c.text, &config, &error)) << c.text;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " -> " << error;
  }
}

// The mixed bench the tests and the README name (sim/mixed_bench.txt).
TEST(BenchTopologyFileTest, MixedBenchHasTheMixTheStationMeets) {
  std::ifstream file(KESTROVA_MIXED_BENCH);
  ASSERT_TRUE(file) << KESTROVA_MIXED_BENCH;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  sim::BenchConfig config;
  std::string error;
  ASSERT_TRUE(sim::Bench::ParseText(text, &config, &error)) << error;
  EXPECT_GE(config.products.size(), 8u);
  EXPECT_GE(config.hubs.size(), 3u);
  int uas = 0, twoDrive = 0, oldFamily = 0, newFamily = 0, qvs646 = 0, pulledAndPlugged = 0;
  std::set<int> chips;
  for (const auto& p : config.products) {
    uas += p.placement.uas;
    twoDrive += p.disk2.present;
    (p.chipType <= 18 ? oldFamily : newFamily) += 1;
    qvs646 += p.chipType == 29 || p.chipType == 34;
    pulledAndPlugged += !p.pullAtMs.empty() && !p.plugAtMs.empty();
    chips.insert(p.chipType);
  }
  EXPECT_EQ(chips.size(), config.products.size());
  EXPECT_EQ(uas, 1);
  EXPECT_EQ(twoDrive, 1);
  EXPECT_GE(oldFamily, 3);
  EXPECT_GE(newFamily, 3);
  EXPECT_EQ(qvs646, 1);
  EXPECT_EQ(pulledAndPlugged, 1);
  bool mouse = false;
  for (const auto& d : config.devices) mouse |= d.product.find("Mouse") != std::string::npos;
  EXPECT_TRUE(mouse);
  sim::Bench bench(config);  // and it builds
  EXPECT_EQ(bench.size(), config.products.size());
}

}  // namespace
