// The library's device list and the queries about one device, on bench
// products bound through the station's binding.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/tests/bench_fixture.h"
#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

sim::ProductConfig Product(const std::string& name, uint32_t port, uint8_t chipType = 25) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = chipType;
  config.usbSerial = "SN" + name;
  config.disk.sectors = 65536;
  config.placement.port = port;
  return config;
}

TEST(DeviceList, OurBridgesInPortOrderNeverMoreThanSixteen) {
  // Seventeen products plugged into the ports from the last to the first.
  std::vector<sim::ProductConfig> products;
  for (uint32_t port = 17; port >= 1; --port) products.push_back(Product("p" + std::to_string(port), port));
  LibraryBench lib(products);
  ASSERT_TRUE(lib.bound());

  sdkstation::DeviceList list;
  // A seventeenth buffer the library must never reach.
  char* buffers[17];
  std::copy_n(list.buffers(), 16, buffers);
  char beyond[256];
  std::memset(beyond, 'x', sizeof beyond);
  buffers[16] = beyond;
  int count = -1;
  ASSERT_NE(lib.sdk().QV_GetDeviceList(buffers, &count), 0);
  ASSERT_EQ(count, 16);
  EXPECT_EQ(beyond[0], 'x');

  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    const uint32_t port = static_cast<uint32_t>(i + 1);
    const sim::Product& expected = lib.product(17 - port);
    EXPECT_EQ(std::string(list[i]), expected.path());
    int hubPort = -2;
    ASSERT_NE(lib.sdk().QV_GetHubPortIndex(list[i], &hubPort), 0);
    EXPECT_EQ(hubPort, static_cast<int>(port));
    char serial[80];
    ASSERT_NE(lib.sdk().QV_GetSNfromOS(list[i], serial), 0);
    EXPECT_STREQ(serial, ("SNp" + std::to_string(port)).c_str());
  }
  // The same list again: the order is the ports', not the order of arrival.
  EXPECT_EQ(lib.List(), lib.List());
}

// A path the station's 256-byte buffers cannot hold whole is not listed:
// a cut path would name no device.
TEST(DeviceList, APathThatWouldHaveToBeCutIsNotListed) {
  sim::ProductConfig longPath = Product("long", 1);
  longPath.path = "\\\\?\\usbstor#disk&ven_kestrova&prod_" + std::string(240, 'l') +
                  "#0001#{53f56307-b6bf-11d0-94f2-00a0c91efbff}";
  LibraryBench lib({longPath, Product("short", 2)});
  ASSERT_GE(lib.product(0).path().size(), 256u);
  const std::vector<std::string> paths = lib.List();
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(paths[0], lib.product(1).path());
}

TEST(DeviceList, NoDeviceGivesACountOfZeroAndEmptyBuffers) {
  LibraryBench lib(std::vector<sim::ProductConfig>{});
  ASSERT_TRUE(lib.bound());
  sdkstation::DeviceList list;
  int count = -1;
  (void)lib.sdk().QV_GetDeviceList(list.buffers(), &count);
  EXPECT_EQ(count, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(list[i][0], '\0');
}

// The library and the test share one bench: a fault armed here fires in a
// command the library sends.
TEST(DeviceList, AFaultArmedOnTheTestsBenchFiresInsideALibraryCall) {
  LibraryBench lib({Product("a", 1)});
  const std::vector<std::string> paths = lib.List();
  ASSERT_EQ(paths.size(), 1u);
  int chipType = 0;
  ASSERT_NE(lib.sdk().QV_GetChipType(paths[0].c_str(), &chipType), 0);
  EXPECT_EQ(chipType, 25);

  lib.product(0).AddFault(bridge::testing::Always(sim::Fault::Kind::RequestFails, {}));
  chipType = 0;
  EXPECT_EQ(lib.sdk().QV_GetChipType(paths[0].c_str(), &chipType), 0);
  EXPECT_GT(lib.product(0).FaultsFired(), 0);
  EXPECT_EQ(chipType, 0) << "nothing written on failure";
}

}  // namespace
}  // namespace qvfw
