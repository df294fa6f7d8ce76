// Sixteen products at once through ten whole passes: identification,
// firmware update and verify, relink, layout, format (NTFS, FAT32 and exFAT
// in turn), read/write test, copy and compare. Meanwhile a thread walks the
// USB tree again and again, and every fourth product leaves the bus in the
// middle of each round, after another of its worker's updates each time. Nothing is lost: every
// product that stays passes, every one that left reports its failure, and
// no handle stays open.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/firmware_update.h"
#include "bridge/port_table.h"
#include "bridge/storage_device.h"
#include "bridge/storage_enumeration.h"
#include "platform/clock.h"
#include "station/device_enumeration.h"
#include "station/port_worker.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

namespace fs = std::filesystem;
using testing::AllBoxesUsable;
using testing::Pattern;
using testing::WorkerBench;
using testing::WorkerProduct;

constexpr int kProducts = 16;
constexpr int kRounds = 10;

bool Leaves(int product) { return product % 4 == 3; }

// Walks the USB tree and the storage interfaces into tables of its own until
// told to stop, as a device-list refresh does.
class TreeWalker {
 public:
  TreeWalker() : thread_([this] { Run(); }) {}
  ~TreeWalker() {
    stop_ = true;
    thread_.join();
  }
  int walks() const { return walks_.load(); }

 private:
  void Run() {
    auto table = std::make_unique<bridge::PortTable>();
    auto entries = std::make_unique<std::array<bridge::StorageDeviceEntry, bridge::kMaxStorageEntries>>();
    while (!stop_) {
      int count = 0;
      (void)EnumerateDevices(0, *table, entries->data(), &count, {}, nullptr);  // what it found is not checked
      walks_.fetch_add(1);
      platform::Sleep(200);  // the refresh timer's pace; the walk holds the enumeration mutex
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<int> walks_{0};
  std::thread thread_;
};

TEST(SixteenRounds, EveryProductPassesOrReportsItsFailureRoundAfterRound) {
  std::vector<sim::ProductConfig> products;
  for (int i = 0; i < kProducts; ++i) {
    sim::ProductConfig p = WorkerProduct("r" + std::to_string(i), 25);
    p.usbSerial = "00000000" + std::to_string(1000 + i);
    p.placement.speed = "high";  // the 1 MB read/write test, not the SuperSpeed 256 MB one
    p.disk.sectors = 512 * 1024;
    products.push_back(p);
  }
  const fs::path image = testing::SmallSoftwareImage("rounds-image");

  WorkerBench bench(products);
  const std::vector<uint8_t> file = Pattern(bridge::kQvs884LargeImageSize, 16);
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (int i = 0; i < kProducts; ++i) bench.product(static_cast<size_t>(i)).Plug();
    ASSERT_EQ(bench.Prepare(), kProducts);
    PassState& pass = bench.pass();
    ASSERT_TRUE(pass.firmwareImage.Allocate());
    std::memcpy(pass.firmwareImage.data(), file.data(), file.size());
    pass.firmwareImage.SetLength(static_cast<uint32_t>(file.size()));

    std::vector<std::unique_ptr<WorkerJob>> jobs;
    std::array<int, kProducts> slots{};
    // The leaving products go right after their worker's `leaveAfter`-th
    // update of the round: a step boundary further on each round.
    const int leaveAfter = 1 + round * 5 % 12;
    for (int i = 0; i < kProducts; ++i) {
      const int slot = bench.SlotOf(bench.product(static_cast<size_t>(i)));
      ASSERT_GE(slot, 0);
      slots[static_cast<size_t>(i)] = slot;
      auto job = bench.Job(slot);
      if (Leaves(i)) {
        sim::Product* product = &bench.product(static_cast<size_t>(i));
        job->postPortUpdate = [post = std::move(job->postPortUpdate), product, leaveAfter,
                               posts = std::make_shared<int>(0)] {
          post();
          if (++*posts == leaveAfter) product->Unplug();
        };
      }
      job->controls = AllBoxesUsable();
      job->controls.FmtTypeComboBox = round % 3;  // NTFS, FAT32, exFAT
      SettingsBlock& s = job->settings;
      s.EnFWUpdate = 1;
      s.EnPartition = s.EnFormat = s.EnSWCopy = s.EnFolderCompare = 1;
      SetFieldText(s.DiskLabel, "ROUNDS");
      SetFieldText(s.SwImgPath, image.string() + "\\*.*");
      SetFieldText(s.SwDstFolder, "Image");
      s.FolderCount = 1;
      s.FileCount = 2;
      jobs.push_back(std::move(job));
    }
    {
      TreeWalker walker;
      bench.Run(std::move(jobs));
    }

    for (int i = 0; i < kProducts; ++i) {
      SCOPED_TRACE("product " + std::to_string(i));
      const bridge::PortRecord& r = bench.record(slots[static_cast<size_t>(i)]);
      EXPECT_EQ(r.progress, kProgressDone);
      if (Leaves(i)) {
        EXPECT_EQ(r.result, -1) << "a product that left mid-round reports its failure";
      } else {
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.firmwareStatus, bridge::kStepPass);
        EXPECT_EQ(r.formatStatus, bridge::kStepPass);
        EXPECT_EQ(r.folderCompareStatus, bridge::kStepPass);
      }
    }
    EXPECT_EQ(bench.bench().OpenHandleCount(), 0);
    if (HasFailure()) break;  // one round's findings are enough
  }
  fs::remove_all(image);
}

}  // namespace
}  // namespace station
