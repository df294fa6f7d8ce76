// The relink of several workers at once on the bench: each reset and each
// re-find try under the device lock and no 1000 ms wait inside it, nobody
// leaves before everybody is back or has given up, and a product that never
// comes back fails its own port only.
#include "station/relink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "disk/device_lock.h"
#include "platform/clock.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::WorkerBench;
using testing::WorkerProduct;

// The clock runs fast, so host time counts many times over: every product
// stays away far longer than all resets take together (a worker that has
// not reset yet is not waited for), and the slow one far longer again.
constexpr double kScale = 500.0;
constexpr uint32_t kBackMs = 30000;
constexpr uint32_t kSlowMs = 300000;
constexpr int32_t kBackTries = 100;
constexpr int32_t kSlowTries = 400;
// Gives up long after every worker has reset, long before the slow one is back.
constexpr int32_t kNeverTries = 20;

std::atomic<int> lockedLongWaits{0};
thread_local int refindWaits = 0;

void ProbeSleep(uint32_t milliseconds) {
  if (milliseconds >= 1000 && disk::DeviceLock().HeldByCurrentThread())
    lockedLongWaits.fetch_add(1);
  if (milliseconds == 1000) ++refindWaits;
}

class LockProbe {
 public:
  LockProbe() {
    lockedLongWaits = 0;
    platform::SetSleepObserver(ProbeSleep);
  }
  ~LockProbe() { platform::SetSleepObserver(nullptr); }
};

struct Outcome {
  bool found = false;
  int fail = 0;
  uint64_t leftAt = 0;  // station ms
  int tries = 0;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Relinks every present port at once; `resetWait` per product index.
std::vector<Outcome> RelinkAll(WorkerBench& bench, const std::vector<int32_t>& resetWait,
                               ResetKind reset) {
  std::vector<Outcome> out(bench.bench().size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < out.size(); ++i) {
    const int slot = bench.SlotOf(bench.product(i));
    EXPECT_GE(slot, 0);
    threads.emplace_back([&, i, slot] {
      refindWaits = 0;
      out[i].found =
          RelinkAfterReset(bench.pass(), bench.record(slot), reset, resetWait[i], 0, out[i].fail);
      out[i].leftAt = platform::GetTickCount64();
      out[i].tries = refindWaits;
    });
  }
  for (auto& t : threads) t.join();
  return out;
}

TEST(Relink, FourWorkersMeetOnlyWhenTheLastIsBack) {
  std::vector<sim::ProductConfig> products;
  for (int i = 0; i < 4; ++i) {
    products.push_back(WorkerProduct("p" + std::to_string(i), 21));
    products.back().resetDelayMs = kBackMs;
  }
  products[2].resetDelayMs = kSlowMs;
  products[1].placement.resetNewPath = true;
  WorkerBench bench(products, kScale);
  ASSERT_EQ(bench.Prepare(), 4);
  const std::string oldPath = bench.record(bench.SlotOf(bench.product(1))).devicePath;
  for (size_t i = 0; i < 4; ++i) bench.record(bench.SlotOf(bench.product(i))).driveLetter = 'Q';

  LockProbe probe;
  const uint64_t start = platform::GetTickCount64();
  const auto outcome =
      RelinkAll(bench, {kBackTries, kBackTries, kSlowTries, kBackTries}, ResetKind::Bridge);

  EXPECT_EQ(lockedLongWaits.load(), 0) << "a 1000 ms wait ran inside the device lock";
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const bridge::PortRecord& r = bench.record(bench.SlotOf(bench.product(i)));
    EXPECT_TRUE(outcome[i].found);
    EXPECT_EQ(outcome[i].fail, 0);
    EXPECT_GE(outcome[i].leftAt, start + kSlowMs) << "left before the slow product was back";
    EXPECT_EQ(bench.product(i).ResetCount(), 1);
    EXPECT_EQ(r.foundAgain, 1);
    EXPECT_EQ(r.chipType, 21);
    EXPECT_EQ(std::string(r.devicePath), bench.product(i).path());
    EXPECT_EQ(std::string(r.instanceId), Lower(bench.product(i).usbInstanceId()));
    EXPECT_EQ(r.driveLetter, 0) << "the letter of the volume before the reset is gone";
    EXPECT_EQ(r.letterFound, 0);
  }
  EXPECT_NE(std::string(bench.record(bench.SlotOf(bench.product(1))).devicePath), oldPath)
      << "a product that comes back under a new path is reached there";
  EXPECT_EQ(bench.pass().RelinkIdleCount.load(), bench.pass().PresentDeviceCount.load());
}

TEST(Relink, APortThatNeverComesBackFailsAloneAndStillWaitsForTheOthers) {
  std::vector<sim::ProductConfig> products = {WorkerProduct("a", 25), WorkerProduct("never", 25),
                                              WorkerProduct("slow", 25)};
  products[0].resetDelayMs = kBackMs;
  products[1].afterReset = sim::AfterReset::NeverBack;
  products[2].resetDelayMs = kSlowMs;
  WorkerBench bench(products, kScale);
  ASSERT_EQ(bench.Prepare(), 3);

  LockProbe probe;
  const uint64_t start = platform::GetTickCount64();
  const auto outcome =
      RelinkAll(bench, {kBackTries, kNeverTries, kSlowTries}, ResetKind::WriteBuffer);

  EXPECT_EQ(lockedLongWaits.load(), 0);
  EXPECT_TRUE(outcome[0].found);
  EXPECT_TRUE(outcome[2].found);
  EXPECT_FALSE(outcome[1].found);
  EXPECT_EQ(outcome[1].fail, 1);
  EXPECT_EQ(outcome[0].fail, 0);
  EXPECT_EQ(outcome[1].tries, kNeverTries) << "MPResetWait tries, 1000 ms apart";
  EXPECT_GE(outcome[1].leftAt, start + kSlowMs) << "gave up early, but waited for the slow product";
  EXPECT_GE(outcome[0].leftAt, start + kSlowMs);
  EXPECT_EQ(bench.record(bench.SlotOf(bench.product(1))).foundAgain, 0);
  EXPECT_EQ(bench.pass().RelinkIdleCount.load(), 3);
}

TEST(Relink, ResetWaitBelowTwoTriesOnce) {
  for (const int32_t wait : {-3, 0, 1, 3}) {
    SCOPED_TRACE(wait);
    sim::ProductConfig never = WorkerProduct("never", 21);
    never.afterReset = sim::AfterReset::NeverBack;
    WorkerBench bench({never});
    ASSERT_EQ(bench.Prepare(), 1);
    const int slot = bench.SlotOf(bench.product(0));
    refindWaits = 0;
    int fail = 0;
    LockProbe probe;
    EXPECT_FALSE(
        RelinkAfterReset(bench.pass(), bench.record(slot), ResetKind::Bridge, wait, 0, fail));
    EXPECT_EQ(refindWaits, std::max(wait, 1));
    EXPECT_EQ(fail, 1);
  }
}

TEST(Relink, AProductBackAsNothingIdentifiedIsNotFoundAgain) {
  sim::ProductConfig product = WorkerProduct("blank", 25);
  product.afterReset = sim::AfterReset::Unidentified;
  WorkerBench bench({product});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  int fail = 0;
  EXPECT_FALSE(RelinkAfterReset(bench.pass(), bench.record(slot), ResetKind::Bridge, 5, 0, fail));
  EXPECT_EQ(fail, 1);
  EXPECT_TRUE(bench.product(0).Online()) << "it is on the bus, as nothing the station knows";
  EXPECT_EQ(bench.record(slot).foundAgain, 0);
  EXPECT_EQ(bench.record(slot).chipType, 0);
}

}  // namespace
}  // namespace station

namespace station {
namespace {

// One look on a hub port with nothing on it says 0 however many other
// storage interfaces the enumeration found, and finds nothing.
TEST(RelinkFindDevice, AnEmptyHubPortReturnsZero) {
  WorkerBench bench({WorkerProduct("gone", 21), WorkerProduct("stays", 21)});
  ASSERT_EQ(bench.Prepare(), 2);
  bridge::PortRecord& gone = bench.record(bench.SlotOf(bench.product(0)));
  bridge::PortRecord& stays = bench.record(bench.SlotOf(bench.product(1)));
  bench.product(0).Unplug();
  disk::DeviceLockHolder lock(disk::DeviceLock());
  EXPECT_EQ(RelinkFindDevice(bench.pass(), gone, 0), 0);
  EXPECT_EQ(gone.foundAgain, 0);
  EXPECT_GE(RelinkFindDevice(bench.pass(), stays, 0), 1) << "the interfaces left";
  EXPECT_EQ(stays.foundAgain, 1);
}

}  // namespace
}  // namespace station
