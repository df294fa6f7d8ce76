// A worker's re-find rewrites the ids, texts and path of its record while
// the window rebuilds the port rows and the detail window reads the same
// record. The product is given another identity and reset again and again,
// so the re-finds write two different states: every look shows one of them
// whole, and under the thread sanitizer the two sides never race.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "bridge/identity_config.h"
#include "bridge/vendor_commands.h"
#include "disk/device_lock.h"
#include "platform/clock.h"
#include "station/device_details.h"
#include "station/port_rows.h"
#include "station/relink.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using bridge::SetFieldText;
using testing::WorkerBench;

constexpr int kRefinds = 2000;
constexpr int kRefindsPerIdentity = 100;

struct Identity {
  const char* vid;
  const char* pid;
  const char* serial;
  uint16_t vidValue;
  const char* pathPart;  // how the interface path carries the serial
};
constexpr Identity kIdentities[] = {
    {"1D6B", "0100", "SERIALA", 0x1d6b, "#seriala&0#"},
    {"6A3E", "4649", "SERIALB", 0x6a3e, "#serialb&0#"},
};

sim::ProductConfig ImageProduct() {
  sim::ProductConfig config = testing::WorkerProduct("race", 29);  // its identity is its 64 KB image
  config.usbSerial = kIdentities[0].serial;
  return config;
}

// Which identity the record holds, read as one reader does: under the
// record's lock, ids, serial and path together. -1 for a mix.
int WholeIdentityOf(const bridge::PortRecord& record) {
  std::lock_guard lock(record.identityLock);
  const std::string serial(bridge::FieldText(record.usbSerial));
  const std::string path(bridge::FieldText(record.devicePath));
  for (int i = 0; i < 2; ++i) {
    const Identity& id = kIdentities[i];
    if (serial == id.serial && record.vid == id.vidValue && path.find(id.pathPart) != std::string::npos) return i;
  }
  return -1;
}

bool Program(const bridge::PortRecord& record, const Identity& id) {
  bridge::IdentityRecord identity;
  SetFieldText(identity.vid, id.vid);
  SetFieldText(identity.pid, id.pid);
  SetFieldText(identity.manufacturer, "Orvanta");
  SetFieldText(identity.product, "Race Bridge");
  SetFieldText(identity.serial, id.serial);
  const std::string path = bridge::DevicePathOf(record);
  return bridge::ProgramIdentityConfig(path.c_str(), true, false, identity, 0, {}) == 1 &&
         bridge::ResetBridge(path.c_str()) == 1;
}

TEST(RefindWhileRowsAreRebuilt, EveryRowAndDetailShowsOneWholeRecord) {
  WorkerBench bench({ImageProduct()});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  ASSERT_GE(slot, 0);
  bridge::PortRecord& record = bench.record(slot);
  const SettingsBlock settings = ZeroedSettingsBlock();
  const StationOptions options;
  ASSERT_EQ(WholeIdentityOf(record), 0) << bridge::FieldText(record.devicePath);

  std::atomic<bool> done{false};
  std::atomic<int> programmed{0};
  std::thread worker([&] {
    int last = 0;
    // Past the last re-identity it goes on until the product is back.
    for (int i = 1; i <= kRefinds || (record.foundAgain != 1 && i <= 2 * kRefinds); ++i) {
      {
        disk::DeviceLockHolder lock(disk::DeviceLock());
        if (i % kRefindsPerIdentity == 0 && i <= kRefinds && record.foundAgain == 1) {
          last = 1 - last;
          if (!Program(record, kIdentities[last])) break;
          programmed = last + 1;
        }
        (void)RelinkFindDevice(bench.pass(), record, 0);
      }
      // Off the bus after its reset: it is looked for again a little later.
      if (record.foundAgain != 1) platform::Sleep(100);
    }
    done = true;
  });
  int looks = 0;
  int torn = 0;
  std::string first;
  while (!done.load()) {
    // What the window reads: each reader takes the lock on its own.
    const PortRow row = BuildPortRow(record, settings, options);
    const DeviceDetails details = CollectDeviceDetails(bench.pass().ports, slot, 0, false);
    const std::string path = bridge::DevicePathOf(record);
    bool whole = WholeIdentityOf(record) >= 0;
    whole = whole && (row.cells[1].find(kIdentities[0].serial) != std::string::npos ||
                      row.cells[1].find(kIdentities[1].serial) != std::string::npos);
    whole = whole && (details.serialNumber == kIdentities[0].serial || details.serialNumber == kIdentities[1].serial);
    whole = whole && (path.find(kIdentities[0].pathPart) != std::string::npos ||
                      path.find(kIdentities[1].pathPart) != std::string::npos);
    ++looks;
    if (!whole && torn++ == 0) first = row.cells[1] + "\", \"" + details.serialNumber + "\", \"" + path;
  }
  worker.join();

  EXPECT_GT(looks, 0);
  EXPECT_EQ(torn, 0) << "of " << looks << " looks; the first showed \"" << first << "\"";
  ASSERT_GT(programmed.load(), 0);
  EXPECT_EQ(record.foundAgain, 1);
  EXPECT_EQ(WholeIdentityOf(record), programmed.load() - 1);
}

}  // namespace
}  // namespace station
