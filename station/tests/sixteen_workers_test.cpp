// Sixteen workers at once on sixteen bench products, every fourth with a
// fault of its own: a product gone in the middle of its flash write, CHECK
// CONDITION on the update's read-back, corrupted read-back data, a full
// volume during the copy. Those ports fail with a trace; the others pass,
// whatever the faulty ones do meanwhile.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/firmware_update.h"
#include "bridge/tests/bench_fixture.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "station/port_worker.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::Pattern;

namespace fs = std::filesystem;
using bridge::testing::Always;
using bridge::testing::MakeFault;
using testing::AllBoxesUsable;
using testing::WorkerBench;
using testing::WorkerProduct;

constexpr int kProducts = 16;

class TraceLines {
 public:
  TraceLines() {
    platform::SetDebugSink([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~TraceLines() { platform::SetDebugSink({}); }
  bool Has(const std::string& text) {
    std::lock_guard lock(mutex_);
    for (const auto& l : lines_) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(SixteenWorkers, FaultyPortsFailAloneAndTheOthersPass) {
  std::vector<sim::ProductConfig> products;
  for (int i = 0; i < kProducts; ++i) {
    sim::ProductConfig p = WorkerProduct("w" + std::to_string(i), 25);
    p.usbSerial = "0000000000" + std::to_string(10 + i);
    products.push_back(p);
  }
  const fs::path image = testing::SmallSoftwareImage("sixteen-image");

  TraceLines traces;
  WorkerBench bench(products);
  ASSERT_EQ(bench.Prepare(), kProducts);
  const std::vector<uint8_t> file = Pattern(bridge::kQvs884LargeImageSize, 16);
  PassState& pass = bench.pass();
  ASSERT_TRUE(pass.firmwareImage.Allocate());
  std::memcpy(pass.firmwareImage.data(), file.data(), file.size());
  pass.firmwareImage.SetLength(static_cast<uint32_t>(file.size()));

  // Gone after the third chunk of its download.
  sim::Fault vanish = MakeFault(sim::Fault::Kind::Vanish, {0x3B, 0x0E});
  vanish.skip = 3;
  bench.product(3).AddFault(vanish);
  bench.product(7).AddFault(Always(sim::Fault::Kind::CheckCondition, {0x3C, 0x01}));
  sim::Fault corrupt = Always(sim::Fault::Kind::CorruptData, {0x3C, 0x01});
  corrupt.offset = 0x123;
  corrupt.xorMask = 0x10;
  bench.product(11).AddFault(corrupt);
  sim::Product& full = bench.product(15);
  platform::testing::HookedBench& hooked = bench.bench();
  hooked.SetHook([&full, &hooked](sim::Bench::DriveFileTransfer& transfer, uint32_t* error) {
    const int index = transfer.letter - 'A';
    if (transfer.write && index >= 0 && index < 26 && (full.Letters(0) >> index & 1)) {
      *error = platform::kErrorDiskFull;
      return false;
    }
    return hooked.sim::Bench::TransferDriveFile(transfer, error);
  });

  std::vector<std::unique_ptr<WorkerJob>> jobs;
  for (int i = 0; i < kProducts; ++i) {
    const int slot = bench.SlotOf(bench.product(static_cast<size_t>(i)));
    ASSERT_GE(slot, 0);
    auto job = bench.Job(slot);
    job->controls = AllBoxesUsable();
    job->controls.FmtTypeComboBox = 1;
    SettingsBlock& s = job->settings;
    s.EnFWUpdate = s.EnEEPROMUpdate = s.MPPortReset = 1;
    s.EnPartition = s.EnFormat = s.EnSWCopy = s.EnFolderCompare = 1;
    SetFieldText(s.DiskLabel, "SIXTEEN");
    SetFieldText(s.SwImgPath, image.string() + "\\*.*");
    SetFieldText(s.SwDstFolder, "Image");
    s.FolderCount = 1;
    s.FileCount = 2;
    jobs.push_back(std::move(job));
  }
  bench.Run(std::move(jobs));

  for (int i = 0; i < kProducts; ++i) {
    SCOPED_TRACE(i);
    const int slot = bench.SlotOf(bench.product(static_cast<size_t>(i)));
    const bridge::PortRecord& r = bench.record(slot);
    const bool faulty = i % 4 == 3;
    EXPECT_EQ(r.result, faulty ? -1 : 1);
    EXPECT_EQ(r.progress, kProgressDone);
    if (!faulty) {
      EXPECT_EQ(r.folderCompareStatus, bridge::kStepPass);
    }
  }
  const auto record = [&](int i) -> bridge::PortRecord& {
    return bench.record(bench.SlotOf(bench.product(static_cast<size_t>(i))));
  };
  EXPECT_EQ(record(3).firmwareStatus, bridge::kStepFail);
  EXPECT_EQ(record(7).firmwareStatus, bridge::kStepFail);
  EXPECT_EQ(record(11).firmwareStatus, bridge::kStepFail);
  EXPECT_EQ(record(15).softwareCopyStatus, bridge::kStepFail);
  EXPECT_EQ(record(15).folderCompareStatus, bridge::kStepSkipped);
  for (const int i : {3, 7, 11}) {
    EXPECT_TRUE(traces.Has(std::to_string(bench.SlotOf(bench.product(static_cast<size_t>(i)))) +
                           " Port : Update Fail"));
  }
  EXPECT_TRUE(traces.Has(std::to_string(bench.SlotOf(full)) + " Port : Software copy Fail"));
  EXPECT_EQ(pass.RelinkIdleCount.load(), kProducts);
  EXPECT_EQ(bench.bench().OpenHandleCount(), 0);
  fs::remove_all(image);
}

}  // namespace
}  // namespace station
