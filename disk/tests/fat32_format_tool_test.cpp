// FAT32 volumes written by the station's formatter on the bench, judged by
// fsck.fat, mdir and minfo from the disk image; and the formatter's failures.
#include "disk/fat32_format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <regex>
#include <string>
#include <vector>

#include "bridge/tests/fake_backend.h"
#include "disk/format_route_table.h"
#include "disk/format_routes.h"
#include "disk/partition_layout.h"
#include "disk/tests/disk_bench_fixture.h"
#include "disk/tests/tool_check.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace disk {
namespace {

using testing::DiskBench;
using testing::DiskBenchOptions;
using testing::RunTool;
using testing::ScopedHddAccessRetry;
using testing::ShellQuote;

constexpr uint64_t kMiB = 1048576;

// What the tools make of the volume at 63 sectors into the image.
struct ToolView {
  bool listed = false;   // mdir listed the root
  bool clean = false;    // fsck.fat -n found nothing to mend
  uint32_t sectorSize = 0, clusterSectors = 0;
  uint64_t totalSectors = 0;
  std::string label;     // from the root's label entry, as mdir shows it
  std::string bootLabel; // the boot sector's field, as minfo shows it
  std::string partitionType;
  std::string report;    // every tool's output, for failure messages
};

std::string Mtools(const char* tool, const std::string& image, uint64_t offset) {
  return std::string("MTOOLS_SKIP_CHECK=1 ") + tool + " -i " +
         ShellQuote(image + "@@" + std::to_string(offset)) + " ::";
}

ToolView ReadWithTools(const std::string& image, uint32_t sectorSize, uint64_t partitionSectors) {
  ToolView view;
  const uint64_t offset = uint64_t{63} * sectorSize;
  const testing::ToolResult minfo = RunTool(Mtools("minfo", image, offset));
  const testing::ToolResult mdir = RunTool(Mtools("mdir", image, offset));
  view.report = "minfo:\n" + minfo.output + "\nmdir:\n" + mdir.output;
  std::smatch m;
  if (std::regex_search(minfo.output, m, std::regex("sector size: (\\d+) bytes"))) {
    view.sectorSize = static_cast<uint32_t>(std::stoul(m[1]));
  }
  if (std::regex_search(minfo.output, m, std::regex("cluster size: (\\d+) sectors"))) {
    view.clusterSectors = static_cast<uint32_t>(std::stoul(m[1]));
  }
  if (std::regex_search(minfo.output, m, std::regex("big size: (\\d+) sectors"))) {
    view.totalSectors = std::stoull(m[1]);
  }
  if (std::regex_search(minfo.output, m, std::regex("disk label=\"([^\"]*)\""))) view.bootLabel = m[1];
  view.listed = mdir.exitCode == 0 && mdir.output.find("Directory for ::/") != std::string::npos;
  if (std::regex_search(mdir.output, m, std::regex("Volume in drive : is ([^\\n]*)"))) {
    view.label = m[1];
    while (!view.label.empty() && view.label.back() == ' ') view.label.pop_back();
  }

  const std::string partition = image + ".part";
  if (testing::ExtractSparse(image, offset, partitionSectors * sectorSize, partition)) {
    const testing::ToolResult fsck = RunTool("fsck.fat -n " + ShellQuote(partition));
    // Nothing to say but its version and the summary: any remark (a backup
    // that differs, a wrong free count, too few clusters) is a finding even
    // where fsck.fat still exits with 0.
    const std::regex quiet("fsck\\.fat [^\n]*\n[^\n]*: \\d+ files, \\d+/(\\d+) clusters\n");
    view.clean = fsck.exitCode == 0 && std::regex_match(fsck.output, m, quiet) &&
                 std::stoull(m[1]) >= 65525;
    view.report += "\nfsck.fat:\n" + fsck.output;
    std::remove(partition.c_str());
  }
  const testing::ToolResult sfdisk = RunTool("sfdisk --dump " + ShellQuote(image));
  if (std::regex_search(sfdisk.output, m, std::regex("type=([0-9a-f]+)"))) view.partitionType = m[1];
  return view;
}

bool ToolsPresent() {
  return testing::ToolPresent("fsck.fat") && testing::ToolPresent("mdir") &&
         testing::ToolPresent("minfo") && testing::ToolPresent("sfdisk");
}

// A disk laid out by the station, its partition set to exactly `sectors`,
// its RAW volume back under E:.
class LaidOutDisk {
 public:
  LaidOutDisk(uint64_t partitionSectors, uint32_t sectorSize)
      : partitionSectors_(partitionSectors), disk_(Options(partitionSectors, sectorSize)) {
    ready_ = CreateDiskLayout(disk_.path().c_str()) == 1 &&
             disk_.SetPartitionSectors(partitionSectors) && disk_.WaitForLetter() == 'E';
  }
  bool ready() const { return ready_; }
  DiskBench& disk() { return disk_; }
  ToolView Tools() {
    return ReadWithTools(disk_.imagePath(), disk_.Geometry().BytesPerSector, partitionSectors_);
  }

 private:
  static DiskBenchOptions Options(uint64_t partitionSectors, uint32_t sectorSize) {
    DiskBenchOptions options;
    // Room for the start and whatever whole cylinders the geometry keeps.
    options.sectors = partitionSectors + 63 + 2 * 16065 + partitionSectors / 100;
    options.sectorSize = sectorSize;
    options.fileSystem = "";
    return options;
  }
  uint64_t partitionSectors_;
  DiskBench disk_;
  bool ready_ = false;
};

struct FatCase {
  const char* name;
  uint64_t partitionSectors;
  uint32_t sectorSize;
  uint32_t clusterBytes;       // request; 0 = by size
  const char* label;
  uint32_t sectorsPerCluster;  // 0: the format is refused
};

class Fat32ByTools : public ::testing::TestWithParam<FatCase> {
 protected:
  void SetUp() override {
    if (!ToolsPresent()) GTEST_SKIP() << "dosfstools/mtools/sfdisk missing";
  }
};

TEST_P(Fat32ByTools, FormattedVolumeAsTheToolsSeeIt) {
  const FatCase& c = GetParam();
  LaidOutDisk laid(c.partitionSectors, c.sectorSize);
  ASSERT_TRUE(laid.ready());
  const int result = FormatVolume("E:\\", 1, c.label, kFileSystemFat32, c.clusterBytes);
  if (c.sectorsPerCluster == 0) {
    EXPECT_EQ(result, kFormatFailed);
    return;
  }
  ASSERT_EQ(result, kFormatOk);
  const ToolView view = laid.Tools();
  EXPECT_TRUE(view.clean) << view.report;
  EXPECT_TRUE(view.listed) << view.report;
  EXPECT_EQ(view.sectorSize, c.sectorSize) << view.report;
  EXPECT_EQ(view.clusterSectors, c.sectorsPerCluster) << view.report;
  EXPECT_EQ(view.totalSectors, c.partitionSectors) << view.report;
  EXPECT_EQ(view.label, c.label) << view.report;
  EXPECT_EQ(view.partitionType, "c");

  // The system mounts what we wrote.
  char label[64] = {}, fileSystem[16] = {};
  ASSERT_TRUE(platform::GetVolumeInformation("E:\\", label, sizeof(label), nullptr, nullptr,
                                             nullptr, fileSystem, sizeof(fileSystem)));
  EXPECT_STREQ(fileSystem, "FAT32");
  EXPECT_STREQ(label, c.label);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Fat32ByTools,
    ::testing::Values(
        FatCase{"Refused65535", 65535, 512, 0, "SMALL", 0},
        // 65,536 sectors leave fewer clusters than FAT32 may have.
        FatCase{"Refused65536", 65536, 512, 0, "SMALL", 0},
        FatCase{"Refused66580", 66580, 512, 0, "SMALL", 0},
        FatCase{"Fewest66581", 66581, 512, 0, "FEWEST", 1},
        FatCase{"FatOneEntryShortAsWritten", 66591, 512, 0, "PLUS2", 1},
        FatCase{"HalfGig", 512 * kMiB / 512, 512, 0, "HALFGIG", 1},
        FatCase{"JustOverHalfGig", 513 * kMiB / 512, 512, 0, "OVERHALF", 8},
        FatCase{"SixHundredMiB", 600 * kMiB / 512, 512, 0, "SIXHUNDRED", 8},
        FatCase{"EightGig", 8192 * kMiB / 512, 512, 0, "EIGHTGIG", 8},
        FatCase{"OverEightGig", 8193 * kMiB / 512, 512, 0, "OVER8", 16},
        FatCase{"OverSixteenGig", 16385 * kMiB / 512, 512, 0, "OVER16", 32},
        FatCase{"OverThirtyTwoGig", 32769 * kMiB / 512, 512, 0, "OVER32", 64},
        FatCase{"FortyGig", 40960 * kMiB / 512, 512, 0, "FORTY", 64},
        FatCase{"Given256Bytes", 600 * kMiB / 512, 512, 256, "TINY", 1},
        FatCase{"Given64K", 8192 * kMiB / 512, 512, 65536, "BIG64K", 128},
        FatCase{"GivenTooLargeForTheDisk", 2048 * kMiB / 512, 512, 65536, "FEW", 0},
        FatCase{"LargeRefused65536", 65536, 4096, 0, "SMALL", 0},
        FatCase{"LargeSmall", 300 * kMiB / 4096, 4096, 0, "LARGE300", 1},
        FatCase{"LargeOverHalfGig", 600 * kMiB / 4096, 4096, 0, "LARGE600", 1},
        FatCase{"LargeFortyGig", 40960 * kMiB / 4096, 4096, 0, "LARGE40", 8},
        FatCase{"LargeCappedAt32K", 40960 * kMiB / 4096, 4096, 65536, "CAPPED", 8}),
    [](const ::testing::TestParamInfo<FatCase>& info) { return info.param.name; });

class Fat32Formatter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ToolsPresent()) GTEST_SKIP() << "dosfstools/mtools/sfdisk missing";
    ASSERT_TRUE(laid_.ready());
  }
  void Fault(sim::SystemOp op, int count, int skip = 0) {
    sim::SystemFault fault;
    fault.op = op;
    fault.count = count;
    fault.skip = skip;
    laid_.disk().bench().AddSystemFault(fault);
  }
  std::vector<std::string> Traces() {
    std::lock_guard lock(mutex_);
    return traces_;
  }

  LaidOutDisk laid_{600 * kMiB / 512, 512};
  std::mutex mutex_;
  std::vector<std::string> traces_;
  struct SinkInstall {
    explicit SinkInstall(Fat32Formatter* self) {
      platform::SetDebugSink([self](const std::string& text) {
        std::lock_guard lock(self->mutex_);
        self->traces_.push_back(text);
      });
    }
    ~SinkInstall() { platform::SetDebugSink({}); }
  } sink_{this};
};

TEST_F(Fat32Formatter, LabelOverElevenCharactersIsCut) {
  Fat32FormatRequest request;
  request.label = "ABCDEFGHIJKLMNOP";
  ASSERT_EQ(FormatFat32('E', request, 1), 1);
  const ToolView view = laid_.Tools();
  EXPECT_TRUE(view.clean) << view.report;
  EXPECT_EQ(view.label, "ABCDEFGHIJK") << view.report;
  EXPECT_EQ(view.bootLabel, "ABCDEFGHIJK") << view.report;
}

TEST_F(Fat32Formatter, NoLabelIsNoName) {
  ASSERT_EQ(FormatFat32('E', Fat32FormatRequest{}, 1), 1);
  const ToolView view = laid_.Tools();
  EXPECT_TRUE(view.clean) << view.report;
  EXPECT_TRUE(view.listed) << view.report;
  EXPECT_EQ(view.bootLabel, "NO NAME    ") << view.report;
}

TEST_F(Fat32Formatter, LabelLongerThanFatTakesIsRejectedBySystemOnTheRoute) {
  EXPECT_EQ(FormatVolume("E:\\", 1, "TWELVECHARSX", kFileSystemFat32, 0), kFormatLabelTooLong);
}

TEST_F(Fat32Formatter, WithoutTheQuickSwitchTheSurfaceIsVerifiedAndNeverFails) {
  Fault(sim::SystemOp::Verify, -1);
  Fat32FormatRequest request;
  request.label = "VERIFIED";
  ASSERT_EQ(FormatFat32('E', request, 0), 1);
  EXPECT_TRUE(laid_.Tools().clean);
}

struct FailureCase {
  const char* name;
  sim::SystemOp op;
  int skip;
  int count;
  int fat32Result;  // FormatFat32 of one try
};

class Fat32Failure : public Fat32Formatter, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Fat32Failure, FailsTheTryAndTheRouteRetries) {
  const FailureCase& c = GetParam();
  Fault(c.op, c.count, c.skip);
  Fat32FormatRequest request;
  request.label = "RETRIED";
  EXPECT_EQ(FormatFat32('E', request, 1), c.fat32Result);
  EXPECT_EQ(laid_.disk().bench().OpenHandleCount(), 0);
  laid_.disk().bench().ClearSystemFaults();
  if (c.fat32Result == 1) return;
  // One more failing try, then the route's retry gets through.
  Fault(c.op, 1, c.skip);
  EXPECT_EQ(FormatVolume("E:\\", 1, "RETRIED", kFileSystemFat32, 0), kFormatOk);
  const std::vector<std::string> traces = Traces();
  EXPECT_NE(std::find(traces.begin(), traces.end(),
                      "Retry format for the 1th time, g_nHDDAccessRetry=5"),
            traces.end());
  const ToolView view = laid_.Tools();
  EXPECT_TRUE(view.clean) << view.report;
  EXPECT_EQ(view.label, "RETRIED") << view.report;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Fat32Failure,
    ::testing::Values(
        // The system area's clearing (the first writes) and the boot sectors.
        FailureCase{"ClearingTheSystemArea", sim::SystemOp::Write, 0, 1, 0},
        FailureCase{"LaterWrite", sim::SystemOp::Write, 20, 1, 0},
        FailureCase{"Lock", sim::SystemOp::Lock, 0, 1, 0},
        FailureCase{"Dismount", sim::SystemOp::Dismount, 0, 1, 0},
        FailureCase{"UnlockStillFormatted", sim::SystemOp::Unlock, 0, 1, 1}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(Fat32Formatter, EveryTryFailingFailsTheRoute) {
  Fault(sim::SystemOp::Write, -1);
  EXPECT_EQ(FormatVolume("E:\\", 1, "NEVER", kFileSystemFat32, 0), kFormatFailed);
  int retries = 0;
  for (const std::string& t : Traces()) retries += t.rfind("Retry format for the", 0) == 0;
  EXPECT_EQ(retries, 5);
}

TEST_F(Fat32Formatter, NoRetriesAllowedNeverFormats) {
  ScopedHddAccessRetry retry(0);
  EXPECT_EQ(FormatVolume("E:\\", 1, "NEVER", kFileSystemFat32, 0), kFormatFailed);
  EXPECT_EQ(FormatFat32('E', Fat32FormatRequest{}, 1), 0);
  const ToolView view = laid_.Tools();
  EXPECT_FALSE(view.listed);
}

TEST_F(Fat32Formatter, TheOwnRouteTakesNoDeviceLock) {
  std::promise<void> locked, release;
  std::thread holder([&] {
    DeviceLockHolder lock(DeviceLock());
    locked.set_value();
    release.get_future().wait();
  });
  locked.get_future().wait();
  auto format = std::async(std::launch::async, [] {
    return FormatVolume("E:\\", 1, "UNLOCKED", kFileSystemFat32, 0);
  });
  const bool finished = format.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  release.set_value();
  holder.join();
  EXPECT_TRUE(finished);
  EXPECT_EQ(format.get(), kFormatOk);
}

// The device's READ CAPACITY block length sizes the sector the label entry
// goes into: one too short for a 32-byte directory entry is refused before
// anything is read or written.
TEST(Fat32LabelEntry, ABlockShorterThanAnEntryIsRefused) {
  auto fake = std::make_shared<bridge::testing::FakeBackend>();
  fake->scsi = bridge::testing::AnswerByPrefix({
      {{0x25}, std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 8}},
      {{0x28}, std::vector<uint8_t>(8, 0)},
      {{0x2A}, std::vector<uint8_t>{}},
  });
  platform::ScopedBackend installed(fake);
  const platform::Handle volume =
      platform::CreateFile("\\\\.\\E:", platform::kAccessRead | platform::kAccessWrite,
                           platform::kShareRead | platform::kShareWrite, platform::kOpenExisting,
                           platform::kFileFlagNoBuffering);
  ASSERT_NE(volume, platform::kInvalidHandle);
  EXPECT_EQ(WriteFat32LabelEntry(volume, "DATA", 100), 0);
  platform::CloseHandle(volume);
  for (const std::vector<uint8_t>& cdb : fake->cdbs) {
    EXPECT_NE(cdb.at(0), 0x28);
    EXPECT_NE(cdb.at(0), 0x2A);
  }
}

}  // namespace
}  // namespace disk
