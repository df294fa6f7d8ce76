// The read/write step against the speed limits on products of the bench's
// throughput model: a product slower than a limit fails the step, one that
// meets both passes, and limits below 1 are no limits. The limits are
// judged after the free-space range: a slow product fails whatever the
// free space, a quick one out of its range is unmatched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "station/port_worker.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::WorkerBench;

sim::ProductConfig Product(const std::string& name, char letter, uint32_t readMBps, uint32_t writeMBps) {
  sim::ProductConfig config = testing::WorkerProduct(name, 21);
  config.placement.speed = "high";  // the test stays at its set size
  config.volume.letters = std::string(1, letter);
  config.volume.autoLetter = false;
  config.volume.fileSystem = "FAT32";
  config.disk.readMBps = readMBps;
  config.disk.writeMBps = writeMBps;
  return config;
}

TEST(SpeedLimits, ASlowProductFailsTheReadWriteStep) {
  // Measured in MB of 2^20 bytes: 24 and 9 (10^6) MB/s are about 22.9 and
  // 8.6; 420 and 310 about 400 and 296.
  struct Case {
    const char* name;
    char letter;
    uint32_t readMBps, writeMBps;
    int32_t readLimit, writeLimit;
    bool outOfRange;  // the free-space check on, expecting far more than the volume has
    int32_t status;
  } const cases[] = {
      {"slowstrict", 'E', 24, 9, 30, 20, false, bridge::kStepFail},
      {"slowwrite", 'F', 24, 9, 20, 9, false, bridge::kStepFail},
      {"slowfits", 'G', 24, 9, 22, 8, false, bridge::kStepPass},
      {"slownolimit", 'H', 24, 9, 0, 100, false, bridge::kStepPass},
      {"quick", 'I', 420, 310, 300, 200, false, bridge::kStepPass},
      {"slowoutofrange", 'J', 24, 9, 30, 20, true, bridge::kStepFail},
      {"quickoutofrange", 'K', 420, 310, 300, 200, true, bridge::kStepUnmatched},
  };
  std::vector<sim::ProductConfig> products;
  for (const Case& c : cases) products.push_back(Product(c.name, c.letter, c.readMBps, c.writeMBps));
  WorkerBench bench(products);
  platform::ScopedManualClock manual;  // speeds as modelled, whatever the load
  ASSERT_EQ(bench.Prepare(), static_cast<int>(std::size(cases)));
  std::vector<int> slots;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const int slot = bench.SlotOf(bench.product(i));
    ASSERT_GE(slot, 0);
    slots.push_back(slot);
    auto job = bench.Job(slot);
    job->controls = testing::AllBoxesUsable();
    job->settings.EnRWTest = 1;
    job->settings.USBReadPerformance = cases[i].readLimit;
    job->settings.USBWritePerformance = cases[i].writeLimit;
    bench.pass().options.FreeSpaceCheck = cases[i].outOfRange;
    job->settings.FreeSpace = int64_t{1} << 50;
    // One worker at a time: every thread's sleeps move the manual clock, so
    // workers running at once would each count the others' device time.
    bench.RunOne(std::move(job));
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    const bridge::PortRecord& r = bench.record(slots[i]);
    EXPECT_EQ(r.readWriteStatus, cases[i].status) << cases[i].name << " read " << r.readSpeed.load()
                                                  << " write " << r.writeSpeed.load();
    EXPECT_EQ(r.result, cases[i].status == bridge::kStepPass ? 1 : -1) << cases[i].name;
  }
}

}  // namespace
}  // namespace station
