// Sixteen products programmed, reset, re-found, partitioned, formatted and
// tested at once, one thread each, while another thread keeps asking one of
// them what its flash holds (run under TSan by the tsan preset).
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "disk/device_lock.h"
#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

constexpr int kProducts = 16;

std::string NewSerial(int i) { return "NEW" + std::to_string(1000 + i); }

TEST(SixteenProducts, EachThreadItsOwnProductAndQueriesSeeOneIdentityOrTheOther) {
  std::vector<sim::ProductConfig> products;
  for (int i = 0; i < kProducts; ++i) {
    sim::ProductConfig config;
    config.name = "p" + std::to_string(i);
    config.chipType = 29;
    config.usbSerial = "OLD" + std::to_string(1000 + i);
    config.disk.sectors = 2 * 1024 * 1024;
    config.placement.resetNewPath = true;
    products.push_back(config);
  }
  LibraryBench lib(products);
  ASSERT_TRUE(lib.bound());
  const auto& sdk = lib.sdk();
  const std::vector<std::string> paths = lib.List();
  ASSERT_EQ(paths.size(), static_cast<size_t>(kProducts));
  g_nHDDAccessRetry = 0;
  ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0);
  EXPECT_EQ(g_nHDDAccessRetry.load(), 5 * kProducts) << "the format retry bound of the pass";
  std::vector<std::string> oldSerial(kProducts);
  for (int i = 0; i < kProducts; ++i) {
    const char* p = paths[static_cast<size_t>(i)].c_str();
    char serial[80] = {};
    ASSERT_NE(sdk.QV_GetSNfromOS(p, serial), 0);
    oldSerial[static_cast<size_t>(i)] = serial;
    ASSERT_NE(sdk.QV_EnableUpdateSN(p, 1), 0);
    ASSERT_NE(sdk.QV_SetSerialNumStr(p, NewSerial(i).c_str()), 0);
  }

  std::atomic<bool> done{false};
  std::set<std::string> seen;
  std::thread query([&] {
    const std::string p = paths[0];
    while (!done.load()) {
      char serial[80] = {};
      if (sdk.QV_GetSNfromFlash(p.c_str(), serial)) seen.insert(serial);
    }
  });
  std::vector<int> results(kProducts, 0);
  std::vector<std::thread> workers;
  for (int i = 0; i < kProducts; ++i) {
    workers.emplace_back([&, i] {
      std::string path = paths[static_cast<size_t>(i)];
      const auto where = lib.LocationOf(path);
      const int index = sdk.QV_GetCustomizedSettingTableIndex(path.c_str());
      if (!where || index < 0 || !sdk.QV_UpdateCustomizedSetting(path.c_str()) ||
          !sdk.QV_ChipReset(path.c_str())) {
        return;
      }
      const auto again = lib.Refind(*where);
      if (!again || !sdk.QV_SetDevicePath(index, again->c_str())) return;
      path = *again;
      char serial[80] = {};
      float read = 0, write = 0;
      results[static_cast<size_t>(i)] =
          sdk.QV_GetSNfromOS(path.c_str(), serial) && serial == NewSerial(i) &&
          sdk.QV_Partition_LBA_Format_LBA(path.c_str(), 0, "KV", kFileSystemFat32, 4096, 1, 0, 1) &&
          sdk.QV_DiskRWTest(path.c_str(), &read, &write, 1, nullptr);
    });
  }
  for (std::thread& t : workers) t.join();
  done = true;
  query.join();

  for (int i = 0; i < kProducts; ++i) EXPECT_EQ(results[static_cast<size_t>(i)], 1) << "product " << i;
  for (const std::string& s : seen) {
    EXPECT_TRUE(s == oldSerial[0] || s == NewSerial(0)) << "a torn answer: '" << s << "'";
  }
}

}  // namespace
}  // namespace qvfw
