// The FAT32 route of a worker end to end, judged by the host's tools: the
// partition table by sfdisk, the volume by fsck.fat, the copied software
// image by diff -r against its source.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "disk/tests/tool_check.h"
#include "station/port_worker.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

namespace fs = std::filesystem;
using disk::testing::ExtractSparse;
using disk::testing::RunTool;
using disk::testing::ShellQuote;
using disk::testing::ToolPresent;
using testing::AllBoxesUsable;
using testing::WorkerBench;
using testing::WorkerProduct;

constexpr uint64_t kSectors = 2 * 1024 * 1024;  // 1 GiB: room for the 256 MB read/write test

struct ToolPartition {
  int count = 0;
  std::string start, type;
  uint64_t size = 0;
};

ToolPartition ReadWithSfdisk(const std::string& image) {
  const auto sfdisk = RunTool("sfdisk --dump " + ShellQuote(image));
  EXPECT_EQ(sfdisk.exitCode, 0) << sfdisk.output;
  ToolPartition p;
  const std::regex entry("start=\\s*(\\d+), size=\\s*(\\d+), type=([0-9a-f]+)");
  for (auto it = std::sregex_iterator(sfdisk.output.begin(), sfdisk.output.end(), entry);
       it != std::sregex_iterator(); ++it) {
    if (p.count++ == 0) {
      p.start = (*it)[1];
      p.size = std::stoull((*it)[2]);
      p.type = (*it)[3];
    }
  }
  return p;
}

// One worker with the given steps on a product whose disk is `diskImage`.
// `whileThere` sees the volume's host folder before the bench goes.
bridge::PortRecord RunSteps(const std::string& diskImage,
                            const std::function<void(WorkerJob&)>& steps,
                            const std::function<void(const std::string&)>& whileThere) {
  sim::ProductConfig config = WorkerProduct("t", 25);
  config.disk.sectors = kSectors;
  config.disk.imagePath = diskImage;
  WorkerBench bench({config});
  EXPECT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  auto job = bench.Job(slot);
  job->controls = AllBoxesUsable();
  job->controls.FmtTypeComboBox = 1;  // FAT32: the station's own formatter
  steps(*job);
  bench.pass().pattern.pages[0].fill(0xA5);
  bench.RunOne(std::move(job));
  const bridge::PortRecord r = bench.record(slot);
  if (whileThere && r.driveLetter != 0) whileThere(bench.bench().HostFolder(r.driveLetter));
  return r;
}

TEST(PortWorkerTools, PartitionStepLaysOneType7PartitionAt63) {
  if (!ToolPresent("sfdisk")) GTEST_SKIP() << "sfdisk is installed by scripts/setup";
  const std::string image = testing::ScratchPath("worker-layout.img").string();
  fs::remove(image);
  const bridge::PortRecord r = RunSteps(
      image, [](WorkerJob& job) { job.settings.EnPartition = 1; }, nullptr);
  EXPECT_EQ(r.partitionStatus, bridge::kStepPass);
  const ToolPartition p = ReadWithSfdisk(image);
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(p.start, "63");
  EXPECT_EQ(p.type, "7");
  EXPECT_GT(p.size, 0u);
  EXPECT_LE(63 + p.size, kSectors);
  fs::remove(image);
}

TEST(PortWorkerTools, Fat32RouteLeavesAVolumeTheToolsAccept) {
  if (!ToolPresent("sfdisk") || !ToolPresent("fsck.fat") || !ToolPresent("diff")) {
    GTEST_SKIP() << "sfdisk, fsck.fat and diff are installed by scripts/setup";
  }
  const fs::path work = testing::ScratchPath("worker-tools");
  fs::remove_all(work);
  fs::create_directories(work / "image" / "Drivers" / "x64");
  std::ofstream(work / "image" / "Setup.exe", std::ios::binary) << std::string(300000, 'S');
  std::ofstream(work / "image" / "Drivers" / "x64" / "drv.sys", std::ios::binary)
      << std::string(4097, '\x7f');
  std::ofstream(work / "image" / "Drivers" / "empty.inf");
  const std::string diskImage = (work / "disk.img").string();

  std::string diffOutput = "not run";
  int diffExit = -1;
  const bridge::PortRecord r = RunSteps(
      diskImage,
      [&](WorkerJob& job) {
        SettingsBlock& s = job.settings;
        s.EnPartition = s.EnFormat = s.EnRWTest = s.EnSWCopy = s.EnFolderCompare = 1;
        SetFieldText(s.DiskLabel, "KESTROVA");
        SetFieldText(s.SwImgPath, (work / "image").string() + "\\*.*");
        SetFieldText(s.SwDstFolder, "Product\\Image");
        s.FolderCount = 2;
        s.FileCount = 3;
      },
      [&](const std::string& folder) {
        const auto diff = RunTool("diff -r " + ShellQuote((work / "image").string()) + " " +
                                  ShellQuote(folder + "/Product/Image"));
        diffExit = diff.exitCode;
        diffOutput = diff.output;
      });
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.folderCompareStatus, bridge::kStepPass);
  EXPECT_EQ(diffExit, 0);
  EXPECT_EQ(diffOutput, "");

  // The formatter marks the partition FAT32 (LBA) once the volume is written.
  const ToolPartition p = ReadWithSfdisk(diskImage);
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(p.start, "63");
  EXPECT_EQ(p.type, "c");
  const uint64_t size = p.size;

  const std::string volume = (work / "volume.img").string();
  ASSERT_TRUE(ExtractSparse(diskImage, 63 * 512, size * 512, volume));
  const auto fsck = RunTool("fsck.fat -n " + ShellQuote(volume));
  EXPECT_EQ(fsck.exitCode, 0) << fsck.output;
  fs::remove_all(work);
}

}  // namespace
}  // namespace station
