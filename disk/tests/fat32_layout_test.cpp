// FAT32 size arithmetic and the fixed sectors of a new volume.
#include "disk/fat32_layout.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "disk/tests/tool_check.h"
#include "platform/message_box.h"

namespace disk {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// 512-byte sectors, one per cluster: the volume of exactly kFat32MaxClusters
// clusters.
constexpr uint64_t kMostClustersSectors = 272629780;

struct SpcCase {
  const char* name;
  uint32_t clusterBytes;
  uint64_t partitionBytes;
  uint32_t bytesPerSector;
  uint32_t sectorsPerCluster;
};

class SectorsPerCluster : public ::testing::TestWithParam<SpcCase> {};

TEST_P(SectorsPerCluster, ByRequestAndSize) {
  const SpcCase& c = GetParam();
  EXPECT_EQ(ChooseSectorsPerCluster(c.clusterBytes, c.partitionBytes, c.bytesPerSector),
            c.sectorsPerCluster);
}

constexpr uint64_t kMiB = 1048576;
INSTANTIATE_TEST_SUITE_P(
    Cases, SectorsPerCluster,
    ::testing::Values(
        SpcCase{"HalfGigOneSector", 0, 512 * kMiB, 512, 1},
        SpcCase{"JustOverHalfGigFourK", 0, 513 * kMiB, 512, 8},
        SpcCase{"SixHundredMiB", 0, 600 * kMiB, 512, 8},
        SpcCase{"EightGigStillFourK", 0, 8192 * kMiB, 512, 8},
        SpcCase{"OverEightGig", 0, 8193 * kMiB, 512, 16},
        SpcCase{"OverSixteenGig", 0, 16385 * kMiB, 512, 32},
        SpcCase{"FortyGig", 0, 40960 * kMiB, 512, 64},
        SpcCase{"ClusterOf256Bytes", 256, 40960 * kMiB, 512, 1},
        SpcCase{"Given64K", 65536, 1024 * kMiB, 512, 128},
        SpcCase{"NotAPowerOfTwoRoundsDown", 3 * 4096, 1024 * kMiB, 512, 16},
        SpcCase{"LargeSectorsSmallDisk", 0, 300 * kMiB, 4096, 1},
        SpcCase{"LargeSectorsFortyGig", 0, 40960 * kMiB, 4096, 8},
        SpcCase{"LargeSectorsCappedAt32K", 512 * 1024, 40960 * kMiB, 4096, 8},
        SpcCase{"LargeSectorsGiven16K", 16384, 40960 * kMiB, 4096, 4}),
    [](const ::testing::TestParamInfo<SpcCase>& info) { return info.param.name; });

TEST(Fat32Arithmetic, PublishedFormulas) {
  EXPECT_EQ(get_spc(32, 512), 64u);
  EXPECT_EQ(get_spc(4, 4096), 1u);
  // 4 x (66201 - 32) / (512 + 8) + 1
  EXPECT_EQ(get_fat_size_sectors(66201, 32, 1, 2, 512), 509u);
}

TEST(Fat32Arithmetic, ZeroDivisorsAreReportedAndRefused) {
  platform::RecordingMessageBoxSink sink;
  platform::ScopedMessageBoxSink installed(&sink);
  EXPECT_EQ(get_spc(4, 0), 0u);
  EXPECT_EQ(get_fat_size_sectors(100000, 32, 0, 0, 0), 0u);
  Fat32Layout layout;
  layout.bytesPerSector = 512;
  layout.sectorsPerCluster = 0;
  EXPECT_EQ(PlanFat32(100000, &layout), Fat32PlanResult::ZeroDivisor);
  const auto boxes = sink.boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "get_spc");
  EXPECT_EQ(boxes[1].text, "get_fat_size_sectors");
}

TEST(Fat32Plan, TheFatHoldsEveryClusterAndTheTwoReservedEntries) {
  // The estimate alone (512 sectors) comes out one entry short here.
  Fat32Layout layout;
  layout.bytesPerSector = 512;
  layout.sectorsPerCluster = 1;
  ASSERT_EQ(PlanFat32(66591, &layout), Fat32PlanResult::Ok);
  EXPECT_EQ(get_fat_size_sectors(66591, 32, 1, 2, 512), 512u);
  EXPECT_EQ(layout.fatSizeSectors, 513u);
  EXPECT_EQ(layout.clusterCount, 66591u - 32 - 2 * 513);

  // Every size, at every cluster size and both sector sizes: room for all
  // entries, and not a whole sector more than that needs.
  std::mt19937_64 random(7);
  for (const uint32_t bps : {512u, 4096u}) {
    for (uint32_t spc = 1; spc <= 128; spc *= 2) {
      for (int i = 0; i < 4000; ++i) {
        const uint64_t total = 66000 + random() % (uint64_t{1} << (i % 2 ? 20 : 31));
        Fat32Layout l;
        l.bytesPerSector = bps;
        l.sectorsPerCluster = spc;
        const Fat32PlanResult result = PlanFat32(total, &l);
        if (result != Fat32PlanResult::Ok) {
          const uint64_t approx = total / spc;
          ASSERT_TRUE((result == Fat32PlanResult::TooSmallForClusters && approx < 70000) ||
                      (result == Fat32PlanResult::TooManyClusters && approx > kFat32MaxClusters))
              << total << " " << spc;
          continue;
        }
        const uint64_t data = total - 32 - 2ull * l.fatSizeSectors;
        ASSERT_EQ(l.clusterCount, data / spc);
        const uint64_t entriesRoom = uint64_t{l.fatSizeSectors} * bps / 4;
        ASSERT_GE(entriesRoom, uint64_t{l.clusterCount} + 2) << total << " " << spc << " " << bps;
        ASSERT_GE(l.clusterCount, 65525u);
      }
    }
  }
}

struct PlanCase {
  const char* name;
  uint64_t totalSectors;
  uint32_t bytesPerSector;
  uint32_t sectorsPerCluster;
  Fat32PlanResult result;
};

class Fat32Limits : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Fat32Limits, Refusals) {
  Fat32Layout layout;
  layout.bytesPerSector = GetParam().bytesPerSector;
  layout.sectorsPerCluster = GetParam().sectorsPerCluster;
  EXPECT_EQ(PlanFat32(GetParam().totalSectors, &layout), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Fat32Limits,
    ::testing::Values(
        PlanCase{"OneSectorShortOf64K", 65535, 512, 1, Fat32PlanResult::TooSmall},
        // 65,536 sectors leave fewer clusters than a FAT32 volume may have.
        PlanCase{"SixtyFourKSectors", 65536, 512, 1, Fat32PlanResult::TooSmallForClusters},
        PlanCase{"OneClusterShort", 66580, 512, 1, Fat32PlanResult::TooSmallForClusters},
        PlanCase{"FewestClusters", 66581, 512, 1, Fat32PlanResult::Ok},
        PlanCase{"LargeClustersOnASmallDisk", 4194304, 512, 128,
                 Fat32PlanResult::TooSmallForClusters},
        PlanCase{"TwoTerabytesAndMore", 0xFFFFFFFFull, 512, 64, Fat32PlanResult::TooBig},
        PlanCase{"LargestTotal", 0xFFFFFFFEull, 512, 64, Fat32PlanResult::Ok},
        PlanCase{"OverTwoTo28Clusters", 0xFFFFFFFEull, 512, 8, Fat32PlanResult::TooManyClusters},
        // 0x0FFFFFF4 clusters, and one more, whose number would reach the
        // values FAT32 reserves.
        PlanCase{"MostClusters", kMostClustersSectors, 512, 1, Fat32PlanResult::Ok},
        PlanCase{"OneClusterTooMany", kMostClustersSectors + 1, 512, 1,
                 Fat32PlanResult::TooManyClusters}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

struct VolumeCase {
  const char* name;
  uint64_t totalSectors;
  uint32_t bytesPerSector;
  uint32_t sectorsPerCluster;  // asked for
  Fat32PlanResult result;
  uint32_t taken;              // sectors per cluster planned
};

class Fat32VolumePlan : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(Fat32VolumePlan, TooManyClustersTakeTheNextClusterSize) {
  const VolumeCase& c = GetParam();
  Fat32Layout layout;
  layout.bytesPerSector = c.bytesPerSector;
  layout.sectorsPerCluster = c.sectorsPerCluster;
  ASSERT_EQ(PlanFat32Volume(c.totalSectors, &layout), c.result);
  if (c.result != Fat32PlanResult::Ok) return;
  EXPECT_EQ(layout.sectorsPerCluster, c.taken);
  EXPECT_LE(layout.clusterCount, kFat32MaxClusters);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Fat32VolumePlan,
    ::testing::Values(
        VolumeCase{"FitsAsAsked", kMostClustersSectors, 512, 1, Fat32PlanResult::Ok, 1},
        VolumeCase{"NextSize", kMostClustersSectors + 1, 512, 1, Fat32PlanResult::Ok, 2},
        VolumeCase{"TwoSizesUp", 0xFFFFFFFEull, 512, 4, Fat32PlanResult::Ok, 16},
        VolumeCase{"LargeSectorsStepUp", 0x40000000, 4096, 1, Fat32PlanResult::Ok, 4},
        // 32 KiB is the largest cluster on 4096-byte sectors.
        VolumeCase{"LargeSectorsNoSizeLeft", 0xFFFFFFFEull, 4096, 8,
                   Fat32PlanResult::TooManyClusters, 0},
        VolumeCase{"LargeSectorsLastSize", 0x60000000, 4096, 2, Fat32PlanResult::Ok, 8}),
    [](const ::testing::TestParamInfo<VolumeCase>& info) { return info.param.name; });

// The boot sector, FSInfo and first FAT sectors of a layout in a sparse
// image of its size, for the tools to judge.
bool WriteSparseVolume(const std::string& image, const Fat32Layout& layout) {
  const int fd = ::open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const uint32_t bps = layout.bytesPerSector;
  std::vector<uint8_t> boot(bps), info(bps), fat(bps);
  BuildFat32BootSector(layout, boot.data());
  BuildFat32FsInfo(layout, info.data());
  BuildFirstFatSector(bps, fat.data());
  const auto put = [&](const std::vector<uint8_t>& sector, uint64_t at) {
    return ::pwrite(fd, sector.data(), bps, static_cast<off_t>(at * bps)) == static_cast<ssize_t>(bps);
  };
  const bool ok = ::ftruncate(fd, static_cast<off_t>(uint64_t{layout.totalSectors} * bps)) == 0 &&
                  put(boot, 0) && put(info, kFat32FsInfoSector) &&
                  put(boot, kFat32BackupBootSector) && put(info, kFat32BackupBootSector + 1) &&
                  put(fat, layout.fatSector(0)) && put(fat, layout.fatSector(1));
  return ::close(fd) == 0 && ok;
}

TEST(Fat32ClusterLimit, TheToolsReadTheMostClustersAndRefuseOneMore) {
  if (!testing::ToolPresent("mdir")) GTEST_SKIP() << "mtools missing";
  const std::string image = ::testing::TempDir() + "kv_fat32_limit_" + std::to_string(::getpid());
  for (const uint64_t total : {kMostClustersSectors, kMostClustersSectors + 1}) {
    Fat32Layout layout;
    layout.bytesPerSector = 512;
    layout.sectorsPerCluster = 1;
    const bool allowed = PlanFat32(total, &layout) == Fat32PlanResult::Ok;
    // The layout the old limit wrote.
    layout.clusterCount = static_cast<uint32_t>(total - kFat32ReservedSectors -
                                                kFat32NumberOfFats * layout.fatSizeSectors);
    layout.sectorsPerTrack = 63;
    layout.heads = 255;
    Fat32LabelField("LIMIT", layout.label);
    ASSERT_TRUE(WriteSparseVolume(image, layout));
    // With its own checks on: mdir reads the FAT and counts the clusters.
    const testing::ToolResult mdir = testing::RunTool("mdir -i " + testing::ShellQuote(image) + " ::");
    EXPECT_EQ(mdir.exitCode == 0, allowed)
        << layout.clusterCount << " clusters:\n" << mdir.output;
  }
  std::remove(image.c_str());
}

TEST(Fat32Label, PaddedCutOrNoName) {
  char field[kFat32LabelLength];
  Fat32LabelField("DATA", field);
  EXPECT_EQ(std::string(field, 11), "DATA       ");
  Fat32LabelField("ABCDEFGHIJKLMNOP", field);
  EXPECT_EQ(std::string(field, 11), "ABCDEFGHIJK");
  Fat32LabelField("", field);
  EXPECT_EQ(std::string(field, 11), "NO NAME    ");
  Fat32LabelField(nullptr, field);
  EXPECT_EQ(std::string(field, 11), "NO NAME    ");
}

TEST(Fat32Sectors, BootSectorFsInfoAndFatOnBothSectorSizes) {
  for (const uint32_t bps : {512u, 4096u}) {
    Fat32Layout l;
    l.bytesPerSector = bps;
    l.sectorsPerCluster = 8;
    ASSERT_EQ(PlanFat32(2000000, &l), Fat32PlanResult::Ok);
    l.hiddenSectors = 63;
    l.sectorsPerTrack = 63;
    l.heads = 255;
    l.volumeId = 0xA1B2C3D4;
    Fat32LabelField("DATA", l.label);
    std::vector<uint8_t> s(bps, 0xCC);
    BuildFat32BootSector(l, s.data());
    EXPECT_EQ(std::memcmp(s.data(), "\xEB\x5A\x90MSWIN4.1", 11), 0);
    EXPECT_EQ(Le16(&s[11]), bps);
    EXPECT_EQ(s[13], 8);
    EXPECT_EQ(Le16(&s[14]), 32);
    EXPECT_EQ(s[16], 2);
    EXPECT_EQ(Le16(&s[17]) | Le16(&s[19]) | Le16(&s[22]), 0);
    EXPECT_EQ(s[21], 0xF8);
    EXPECT_EQ(Le16(&s[24]), 63);
    EXPECT_EQ(Le16(&s[26]), 255);
    EXPECT_EQ(Le32(&s[28]), 63u);
    EXPECT_EQ(Le32(&s[32]), 2000000u);
    EXPECT_EQ(Le32(&s[36]), l.fatSizeSectors);
    EXPECT_EQ(Le32(&s[44]), 2u);
    EXPECT_EQ(Le16(&s[48]), 1);
    EXPECT_EQ(Le16(&s[50]), 6);
    EXPECT_EQ(s[64], 0x80);
    EXPECT_EQ(s[66], 0x29);
    EXPECT_EQ(Le32(&s[67]), 0xA1B2C3D4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&s[71]), 11), "DATA       ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&s[82]), 8), "FAT32   ");
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);
    EXPECT_EQ(s[bps - 2], 0x55);
    EXPECT_EQ(s[bps - 1], 0xAA);
    EXPECT_EQ(s[100], 0);  // cleared

    BuildFat32FsInfo(l, s.data());
    EXPECT_EQ(Le32(&s[0]), 0x41615252u);
    EXPECT_EQ(Le32(&s[484]), 0x61417272u);
    EXPECT_EQ(Le32(&s[488]), l.clusterCount - 1);
    EXPECT_EQ(Le32(&s[492]), 3u);
    EXPECT_EQ(Le32(&s[508]), 0xAA550000u);
    if (bps > 512) {
      EXPECT_EQ(s[bps - 1], 0);
    }

    BuildFirstFatSector(bps, s.data());
    EXPECT_EQ(Le32(&s[0]), 0x0FFFFFF8u);
    EXPECT_EQ(Le32(&s[4]), 0x0FFFFFFFu);
    EXPECT_EQ(Le32(&s[8]), 0x0FFFFFFFu);
    EXPECT_EQ(Le32(&s[12]), 0u);
  }
}

TEST(Fat32VolumeId, SixteenBitHalvesFromTheTime) {
  const VolumeIdTime t{2026, 12, 10, 23, 59, 58, 999};
  const uint16_t low = static_cast<uint16_t>((12 * 256 + 10) + (58 * 256 + 99));
  const uint16_t high = static_cast<uint16_t>((23 * 256 + 59) + 2026);
  EXPECT_EQ(MakeVolumeId(t), (uint32_t{high} << 16) | low);
}

}  // namespace
}  // namespace disk
