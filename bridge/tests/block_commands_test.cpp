// READ/WRITE(10) on a handle, READ CAPACITY, the drive capacity from
// IDENTIFY (and the geometry fallback), free space and file system.
#include "bridge/block_commands.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "bridge/tests/fake_backend.h"
#include "platform/device_io.h"
#include "sim/bench.h"

namespace bridge {
namespace {

using testing::Always;
using testing::AnswerByPrefix;
using testing::FakeBackend;
using testing::OneProduct;
using testing::MakeFault;
using Kind = sim::Fault::Kind;

const char* const kFakePath = "\\\\?\\usbstor#disk&ven_q#4#{guid}";

sim::ProductConfig Disk(uint8_t chipType, uint64_t sectors, uint32_t sectorSize = 512) {
  sim::ProductConfig config = testing::TestProduct("disk" + std::to_string(chipType));
  config.chipType = chipType;
  config.disk.sectors = sectors;
  config.disk.sectorSize = sectorSize;
  return config;
}

platform::ScopedDevice OpenForIo(const char* path) {
  return platform::ScopedDevice(path, platform::kAccessRead | platform::kAccessWrite,
                                platform::kShareRead | platform::kShareWrite);
}

// ---- READ(10) / WRITE(10) ----

TEST(BlockIo, WriteThenReadOnOneHandle) {
  OneProduct bench(Disk(21, 8192));
  platform::ScopedDevice device = OpenForIo(bench.path());
  ASSERT_TRUE(device.valid());
  std::vector<uint8_t> pattern(1024);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 3);

  bench.product().EnableTrace(true);
  ASSERT_EQ(Write10Handle(device.get(), pattern.data(), 0x1234, 1024, 512), 1);
  std::vector<uint8_t> back(1024, 0);
  ASSERT_EQ(Read10Handle(device.get(), back.data(), 0x1234, 1024, 512), 1);
  EXPECT_EQ(back, pattern);

  const std::vector<sim::TraceEntry> trace = bench.product().TakeTrace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0].cdb, (std::vector<uint8_t>{0x2A, 0, 0x00, 0x00, 0x12, 0x34, 0, 0x00, 0x02, 0}));
  EXPECT_EQ(trace[1].cdb, (std::vector<uint8_t>{0x28, 0, 0x00, 0x00, 0x12, 0x34, 0, 0x00, 0x02, 0}));
  EXPECT_EQ(trace[1].length, 1024u);
}

TEST(BlockIo, FieldsThatWouldBeCutAreRefusedBeforeSending) {
  auto fake = std::make_shared<FakeBackend>();
  fake->scsi = [](platform::ScsiPassThroughDirect& request) {
    request.ScsiStatus = platform::kScsiStatusGood;
    return true;
  };
  platform::ScopedBackend installed(fake);
  platform::ScopedDevice device = OpenForIo(kFakePath);
  std::vector<uint8_t> buffer(65536 * 2 + 2);

  struct Case {
    uint64_t lba;
    uint32_t bytes, blockSize;
    int result;
  };
  for (const Case& c : {Case{0x100000000ull, 512, 512, 0},  // LBA beyond 32 bits
                        Case{0, 65536 * 2, 2, 0},            // 65536 blocks
                        Case{0, 512, 0, 0},                  // no block size
                        Case{0, 700, 512, 0},                // not whole blocks
                        Case{0xFFFFFFFFull, 65535 * 2, 2, 1}}) {
    fake->cdbs.clear();
    EXPECT_EQ(Read10Handle(device.get(), buffer.data(), c.lba, c.bytes, c.blockSize), c.result)
        << c.lba << " " << c.bytes << "/" << c.blockSize;
    EXPECT_EQ(Write10Handle(device.get(), buffer.data(), c.lba, c.bytes, c.blockSize), c.result);
    EXPECT_EQ(fake->cdbs.size(), c.result ? 2u : 0u);
  }
  ASSERT_FALSE(fake->cdbs.empty());
  EXPECT_EQ(fake->cdbs[0],
            (std::vector<uint8_t>{0x28, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0}));
}

TEST(BlockIo, OneByteReadTransfersTwoAndFillsOne) {
  auto fake = std::make_shared<FakeBackend>();
  uint32_t wireLength = 0;
  fake->scsi = [&](platform::ScsiPassThroughDirect& request) {
    wireLength = request.DataTransferLength;
    std::memset(request.DataBuffer, 0xA5, request.DataTransferLength);
    request.ScsiStatus = platform::kScsiStatusGood;
    return true;
  };
  platform::ScopedBackend installed(fake);
  platform::ScopedDevice device = OpenForIo(kFakePath);
  uint8_t bytes[2] = {0, 0x11};
  EXPECT_EQ(Read10Handle(device.get(), bytes, 7, 1, 1), 1);
  EXPECT_EQ(wireLength, 2u);
  EXPECT_EQ(bytes[0], 0xA5);
  EXPECT_EQ(bytes[1], 0x11);
}

// ---- READ CAPACITY ----

TEST(ReadCapacity, BlockLengthFromTheDrive) {
  for (const uint32_t sectorSize : {512u, 4096u}) {
    OneProduct bench(Disk(21, 1 << 20, sectorSize));
    EXPECT_EQ(ReadCapacity10(bench.path()), sectorSize);
    platform::ScopedDevice device = OpenForIo(bench.path());
    EXPECT_EQ(ReadCapacity10Handle(device.get()), sectorSize);
    EXPECT_EQ(ReadCapacity16(bench.path()), (1u << 20) - 1);
  }
}

TEST(ReadCapacity, FailureFallsBackTo512AndZero) {
  OneProduct bench(Disk(21, 1 << 20, 4096));
  bench.product().AddFault(Always(Kind::CheckCondition, {0x25}));
  bench.product().AddFault(Always(Kind::CheckCondition, {0x9E}));
  EXPECT_EQ(ReadCapacity10(bench.path()), kDefaultBlockLength);
  platform::ScopedDevice device = OpenForIo(bench.path());
  EXPECT_EQ(ReadCapacity10Handle(device.get()), kDefaultBlockLength);
  EXPECT_EQ(ReadCapacity16(bench.path()), 0u);
}

TEST(ReadCapacity, ZeroBlockLengthIsNeverReturned) {
  auto fake = std::make_shared<FakeBackend>();
  fake->scsi = AnswerByPrefix({{{0x25}, std::vector<uint8_t>{0, 0, 0x10, 0, 0, 0, 0, 0}}});
  platform::ScopedBackend installed(fake);
  EXPECT_EQ(ReadCapacity10(kFakePath), kDefaultBlockLength);
  platform::ScopedDevice device = OpenForIo(kFakePath);
  EXPECT_EQ(ReadCapacity10Handle(device.get()), kDefaultBlockLength);
}

TEST(ReadCapacity, Capacity16Wire) {
  auto fake = std::make_shared<FakeBackend>();
  fake->scsi = AnswerByPrefix(
      {{{0x9E, 0x10}, std::vector<uint8_t>{0x00, 0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0, 0,
                                            0x10, 0}}});
  platform::ScopedBackend installed(fake);
  EXPECT_EQ(ReadCapacity16(kFakePath), 0x0123456789ABull);
  ASSERT_EQ(fake->cdbs.size(), 1u);
  std::vector<uint8_t> expected(16, 0);
  expected[0] = 0x9E;
  expected[1] = 0x10;
  expected[13] = 16;
  EXPECT_EQ(fake->cdbs[0], expected);

  uint8_t buffer[256];
  fake->cdbs.clear();
  EXPECT_EQ(ReadCapacity16Data(kFakePath, buffer, 256), 0);  // one CDB byte carries the length
  EXPECT_TRUE(fake->cdbs.empty());
}

// ---- Capacity from IDENTIFY ----

struct IdentifyCase {
  const char* name;
  uint32_t lba28;
  uint64_t lba48;
  uint16_t word106;
  uint32_t logicalWords;  // words 117-118
  uint64_t megabytes;
};

std::array<uint8_t, 512> IdentifyData(const IdentifyCase& c) {
  std::array<uint8_t, 512> identify = {};
  for (int i = 0; i < 4; ++i) identify[120 + i] = static_cast<uint8_t>(c.lba28 >> (8 * i));
  for (int i = 0; i < 8; ++i) identify[200 + i] = static_cast<uint8_t>(c.lba48 >> (8 * i));
  identify[212] = static_cast<uint8_t>(c.word106);
  identify[213] = static_cast<uint8_t>(c.word106 >> 8);
  for (int i = 0; i < 4; ++i) identify[234 + i] = static_cast<uint8_t>(c.logicalWords >> (8 * i));
  return identify;
}

class CapacityFromIdentify : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(CapacityFromIdentify, Megabytes) {
  const std::array<uint8_t, 512> identify = IdentifyData(GetParam());
  EXPECT_EQ(CapacityMBFromIdentify(identify.data()), GetParam().megabytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CapacityFromIdentify,
    ::testing::Values(
        IdentifyCase{"Lba28", 4194304, 0, 0x4000, 0, 2048},
        IdentifyCase{"Lba28Truncates", 4196351, 0, 0, 0, 2048},
        // 2 TB: the 28-bit field saturates and words 100-102 count.
        IdentifyCase{"TwoTerabytes", 0x0FFFFFFF, 0x100000000ull, 0x4000, 0, 2097152},
        // Only 40 bits of the 48-bit field are used.
        IdentifyCase{"Lba48FortyBits", 0x0FFFFFFF, 0x0000FF0000200000ull, 0, 0, 1024},
        IdentifyCase{"Lba28NotSaturatedIgnoresLba48", 2048, 0x100000000ull, 0, 0, 1},
        // 4096-byte logical sectors: words 117-118 = 2048 words.
        IdentifyCase{"LogicalSectors4096", 1048576, 0, 0x5000, 2048, 4096},
        IdentifyCase{"LogicalSectors4096Lba48", 0x0FFFFFFF, 0x40000000ull, 0x5000, 2048, 4194304},
        // 0x6000 says several logical sectors per physical one; the logical
        // sector stays 512 bytes and words 117-118 are not set.
        IdentifyCase{"Word106Is6000", 4194304, 0, 0x6000, 0, 2048},
        IdentifyCase{"Word106Is6000WithStaleWords", 4194304, 0, 0x6000, 2048, 2048},
        // A logical size below 512 bytes, over 64 KB or not a power of two
        // is no size: 512-byte sectors.
        IdentifyCase{"LogicalSizeZero", 4194304, 0, 0x5000, 0, 2048},
        IdentifyCase{"LogicalSizeOver64K", 1048576, 0, 0x5000, 0x10000, 512},
        IdentifyCase{"LogicalSizeNotAPowerOfTwo", 1048576, 0, 0x5000, 1000, 512},
        // Word 106 counts when bit 14 is set and bit 15 clear, and bit 12
        // says the logical sector is long; its other bits do not matter.
        IdentifyCase{"Word106NotValid", 1048576, 0, 0xD000, 2048, 512},
        IdentifyCase{"LowBitsOfWord106DoNotMatter", 1048576, 0, 0x5003, 2048, 4096},
        IdentifyCase{"Word106Bit13DoesNotMatter", 1048576, 0, 0x7000, 2048, 4096}),
    [](const ::testing::TestParamInfo<IdentifyCase>& info) { return info.param.name; });

TEST(DiskCapacity, FromTheBenchDrive) {
  struct Case {
    uint8_t chip;
    uint64_t sectors;
    uint32_t sectorSize;
    uint64_t megabytes;
  };
  for (const Case& c : {Case{1, 4194304, 512, 2048}, Case{21, 4194304, 512, 2048},
                        Case{25, 0x100000000ull, 512, 2097152},
                        Case{13, 0x10000000ull + 4096, 512, 131074},
                        Case{21, 1048576, 4096, 4096}}) {
    OneProduct bench(Disk(c.chip, c.sectors, c.sectorSize));
    EXPECT_EQ(GetDiskCapacityMB(bench.path(), c.chip), c.megabytes)
        << "chip " << int(c.chip) << " " << c.sectors << " x " << c.sectorSize;
  }
}

TEST(DiskCapacity, SatOnlyForItsFamilies) {
  for (const uint8_t chip : {uint8_t{19}, uint8_t{22}, uint8_t{25}, uint8_t{28}}) {
    OneProduct bench(Disk(chip, 4194304));
    bench.product().EnableTrace(true);
    (void)GetDiskCapacityMB(bench.path(), chip);  // the commands it sends are the subject
    const std::vector<sim::TraceEntry> trace = bench.product().TakeTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace[0].cdb[0], 0xA1) << "chip " << int(chip);
  }
  for (const uint8_t chip : {uint8_t{1}, uint8_t{13}, uint8_t{23}, uint8_t{29}}) {
    OneProduct bench(Disk(chip, 4194304));
    bench.product().EnableTrace(true);
    (void)GetDiskCapacityMB(bench.path(), chip);  // the commands it sends are the subject
    for (const sim::TraceEntry& entry : bench.product().TakeTrace()) {
      EXPECT_NE(entry.cdb[0], 0xA1) << "chip " << int(chip);
    }
  }
}

TEST(DiskCapacity, GeometryWhenIdentifyFails) {
  auto fake = std::make_shared<FakeBackend>();
  fake->scsi = AnswerByPrefix({});  // every command: CHECK CONDITION
  fake->geometries[kFakePath] = {1024, 255, 63, 512};
  platform::ScopedBackend installed(fake);
  EXPECT_EQ(GetDiskCapacityMB(kFakePath, 21), 1024ull * 255 * 63 * 512 / 0x100000);
  EXPECT_EQ(GetDiskCapacityMB(kFakePath, 1), 1024ull * 255 * 63 * 512 / 0x100000);
}

// ---- Free space and file system ----

TEST(FreeSpace, SumsTheVolumesOfTheDisk) {
  auto fake = std::make_shared<FakeBackend>();
  fake->deviceNumbers[kFakePath] = {platform::kFileDeviceDisk, 3, 0};
  fake->AddVolume('E', 3, "NTFS", 1000);
  fake->AddVolume('F', 4, "NTFS", 50000);  // another disk
  fake->AddVolume('G', 3, "FAT32", 234);
  fake->AddVolume('H', 3, "", 77);
  fake->volumes['H'].mounted = false;  // no file system: its query fails
  platform::ScopedBackend installed(fake);
  EXPECT_EQ(GetDriveFreeSpace(kFakePath), 1234u);

  fake->deviceNumbers.erase(kFakePath);
  EXPECT_EQ(GetDriveFreeSpace(kFakePath), 0u);
}

TEST(FreeSpace, BenchTwoVolumes) {
  std::string error;
  const std::shared_ptr<sim::Bench> bench = sim::Bench::FromText(
      "[product two]\nchip = 21\nletters = EF\nvolume.fs = NTFS\nvolume.free = 3M\n"
      "[product other]\nchip = 25\nletters = G\nvolume.fs = NTFS\nvolume.free = 5M\n",
      &error);
  ASSERT_NE(bench, nullptr) << error;
  platform::ScopedBackend installed(bench);
  EXPECT_EQ(GetDriveFreeSpace(bench->product(0).path().c_str()), 2 * 3 * 1024 * 1024u);
  EXPECT_EQ(GetDriveFreeSpace(bench->product(1).path().c_str()), 5 * 1024 * 1024u);
}

TEST(FileSystem, KindAndLabel) {
  auto fake = std::make_shared<FakeBackend>();
  struct Case {
    char letter;
    const char* fileSystem;
    int kind;
  };
  const Case cases[] = {{'E', "FAT32", kFileSystemFat32}, {'F', "NTFS", kFileSystemNtfs},
                        {'G', "exFAT", kFileSystemOther}, {'H', "FAT", kFileSystemOther}};
  for (const Case& c : cases) {
    fake->AddVolume(c.letter, 3, c.fileSystem, 0);
    std::snprintf(fake->volumes[c.letter].label, sizeof(fake->volumes[c.letter].label), "VOL_%c",
                  c.letter);
  }
  platform::ScopedBackend installed(fake);
  for (const Case& c : cases) {
    char label[kVolumeLabelSize];
    std::memset(label, 'X', sizeof(label));
    int kind = 99;
    // An earlier failure's code must not become this query's result.
    platform::SetLastError(platform::kErrorAccessDenied);
    EXPECT_EQ(GetVolumeFileSystem(c.letter, label, &kind), platform::kErrorSuccess);
    EXPECT_EQ(kind, c.kind) << c.fileSystem;
    EXPECT_EQ(std::string(label), std::string("VOL_") + c.letter);
  }
}

TEST(FileSystem, MissingVolumeReportsItsOwnError) {
  auto fake = std::make_shared<FakeBackend>();
  platform::ScopedBackend installed(fake);
  char label[kVolumeLabelSize] = "stale";
  int kind = kFileSystemNtfs;
  platform::SetLastError(platform::kErrorSuccess);
  EXPECT_NE(GetVolumeFileSystem('Q', label, &kind), platform::kErrorSuccess);
  EXPECT_STREQ(label, "");
  EXPECT_EQ(kind, kFileSystemOther);
  EXPECT_NE(GetVolumeFileSystem('R', nullptr, nullptr), platform::kErrorSuccess);
}

}  // namespace
}  // namespace bridge
