// A worker's re-find rewrites the ids, texts and path of its record while
// the window rebuilds the port rows and the detail window reads the same
// record. Every row and every detail read shows one whole state of it, and
// under the thread sanitizer the two sides never race.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "disk/device_lock.h"
#include "station/device_details.h"
#include "station/port_rows.h"
#include "station/relink.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::WorkerBench;
using testing::WorkerProduct;

constexpr int kRefinds = 2000;

struct Seen {
  std::string ids;      // the "VID / PID / SN" cell
  std::string version;  // the "FWVer" cell
  std::string serial;   // the detail window's serial number
  std::string path;     // what a double-click asks the drive letter through
};

Seen Look(const bridge::PortTable& table, int slot, const SettingsBlock& settings,
          const StationOptions& options) {
  const PortRow row = BuildPortRow(table.records[static_cast<size_t>(slot)], settings, options);
  const DeviceDetails details = CollectDeviceDetails(table, slot, 0, false);
  return {row.cells[1], row.cells[3], details.serialNumber,
          bridge::DevicePathOf(table.records[static_cast<size_t>(slot)])};
}

TEST(RefindWhileRowsAreRebuilt, EveryRowAndDetailShowsOneWholeRecord) {
  WorkerBench bench({WorkerProduct("race", 21)});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  ASSERT_GE(slot, 0);
  bridge::PortRecord& record = bench.record(slot);
  const SettingsBlock settings = ZeroedSettingsBlock();
  const StationOptions options;
  const Seen before = Look(bench.pass().ports, slot, settings, options);
  ASSERT_NE(before.ids.find("SNRACE"), std::string::npos);
  ASSERT_FALSE(before.path.empty());

  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < kRefinds; ++i) {
      disk::DeviceLockHolder lock(disk::DeviceLock());
      (void)RelinkFindDevice(bench.pass(), record, 0);
    }
    done = true;
  });
  int looks = 0;
  int torn = 0;
  Seen first;
  while (!done.load()) {
    const Seen now = Look(bench.pass().ports, slot, settings, options);
    ++looks;
    const bool whole = now.ids == before.ids && now.version == before.version &&
                       now.serial == "SNrace" && now.path == before.path;
    if (!whole && torn++ == 0) first = now;
  }
  worker.join();

  EXPECT_GT(looks, 0);
  EXPECT_EQ(torn, 0) << "of " << looks << " looks; the first showed \"" << first.ids << "\", \""
                     << first.version << "\", \"" << first.serial << "\", \"" << first.path << "\"";
  EXPECT_EQ(record.foundAgain, 1);
}

}  // namespace
}  // namespace station
