// Partition tables written on the bench, read back by sfdisk and blkid from
// the disk image.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "disk/mbr_template.h"
#include "disk/partition_layout.h"
#include "disk/tests/disk_bench_fixture.h"
#include "disk/tests/tool_check.h"

namespace disk {
namespace {

using testing::DiskBench;
using testing::DiskBenchOptions;
using testing::RunTool;
using testing::ShellQuote;

enum class Form { Extended, Legacy };

struct LayoutCase {
  const char* name;
  Form form;
  uint64_t sectors;
  uint32_t sectorSize;
};

// What sfdisk says of the image: the table's label id, and the one
// partition's start, size and type (sfdisk reads an image file in 512-byte
// units, so the numbers are the table's own, in the disk's sectors).
struct ToolTable {
  std::string labelId;
  uint64_t start = 0, size = 0;
  std::string type;
  bool bootable = false;
  int partitions = 0;
};

ToolTable ReadWithSfdisk(const std::string& image) {
  const testing::ToolResult dump = RunTool("sfdisk --dump " + ShellQuote(image));
  EXPECT_EQ(dump.exitCode, 0) << dump.output;
  EXPECT_NE(dump.output.find("label: dos"), std::string::npos) << dump.output;
  ToolTable table;
  std::smatch m;
  if (std::regex_search(dump.output, m, std::regex("label-id: (0x[0-9a-f]+)"))) table.labelId = m[1];
  const std::regex entry("start=\\s*(\\d+), size=\\s*(\\d+), type=([0-9a-f]+)(, bootable)?");
  for (auto it = std::sregex_iterator(dump.output.begin(), dump.output.end(), entry);
       it != std::sregex_iterator(); ++it) {
    if (table.partitions++ == 0) {
      table.start = std::stoull((*it)[1]);
      table.size = std::stoull((*it)[2]);
      table.type = (*it)[3];
      table.bootable = (*it)[4].matched;
    }
  }
  return table;
}

std::vector<uint8_t> ReadImage(const std::string& image, uint64_t offset, size_t size) {
  std::vector<uint8_t> bytes(size, 0xEE);
  const int fd = ::open(image.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::pread(fd, bytes.data(), size, static_cast<off_t>(offset)),
            static_cast<ssize_t>(size));
  ::close(fd);
  return bytes;
}

void WriteImage(const std::string& image, uint64_t offset, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(image.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

class LayoutByTools : public ::testing::TestWithParam<LayoutCase> {
 protected:
  void SetUp() override {
    if (!testing::ToolPresent("sfdisk") || !testing::ToolPresent("blkid")) {
      GTEST_SKIP() << "sfdisk/blkid missing";
    }
  }
};

TEST_P(LayoutByTools, OnePartitionFromSector63ToTheEnd) {
  const LayoutCase& c = GetParam();
  DiskBenchOptions options;
  options.sectors = c.sectors;
  options.sectorSize = c.sectorSize;
  if (c.form == Form::Legacy) options.osMajor = 5;
  DiskBench disk(options);
  // Whatever the old volume's boot sector held, a whole sector of it goes.
  WriteImage(disk.imagePath(), uint64_t{63} * c.sectorSize, std::vector<uint8_t>(c.sectorSize, 0xA5));

  const platform::DiskGeometry geometry = disk.Geometry();
  ASSERT_EQ(geometry.BytesPerSector, c.sectorSize);
  const uint64_t diskSectors = static_cast<uint64_t>(geometry.Cylinders) *
                               geometry.TracksPerCylinder * geometry.SectorsPerTrack;
  const int result = c.form == Form::Extended ? CreateDiskLayout(disk.path().c_str())
                                              : WriteLegacyLayout(disk.path().c_str());
  ASSERT_EQ(result, 1);

  const ToolTable table = ReadWithSfdisk(disk.imagePath());
  EXPECT_EQ(table.partitions, 1);
  EXPECT_EQ(table.start, 63u);
  EXPECT_EQ(table.size, diskSectors - 63);
  EXPECT_EQ(table.type, "7");
  EXPECT_FALSE(table.bootable);

  const testing::ToolResult blkid = RunTool("blkid -p -o export " + ShellQuote(disk.imagePath()));
  EXPECT_NE(blkid.output.find("PTTYPE=dos"), std::string::npos) << blkid.output;

  if (c.form == Form::Legacy) {
    // The template's signature, its boot stub and texts stay in sector 0.
    EXPECT_EQ(table.labelId, "0xb1732e49");
    EXPECT_NE(blkid.output.find("PTUUID=b1732e49"), std::string::npos) << blkid.output;
    const std::vector<uint8_t> mbr = ReadImage(disk.imagePath(), 0, kMbrTextOffsetsAt);
    EXPECT_TRUE(std::equal(mbr.begin(), mbr.end(), kMbrTemplate.begin()));
  } else {
    const std::vector<uint8_t> cleared =
        ReadImage(disk.imagePath(), uint64_t{63} * c.sectorSize, c.sectorSize);
    EXPECT_EQ(std::count(cleared.begin(), cleared.end(), 0), static_cast<long>(c.sectorSize));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LayoutByTools,
    ::testing::Values(LayoutCase{"ExtendedOneGig", Form::Extended, 2097152, 512},
                      LayoutCase{"ExtendedFourKSectors", Form::Extended, 262144, 4096},
                      LayoutCase{"ExtendedTwoTerabytes", Form::Extended, 4294967295ull, 512},
                      LayoutCase{"ExtendedSmall", Form::Extended, 20000, 512},
                      LayoutCase{"LegacyOneGig", Form::Legacy, 2097152, 512},
                      LayoutCase{"LegacyFourKSectors", Form::Legacy, 262144, 4096}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST(LayoutRefusals, DiskUnderSixtyThreeSectors) {
  DiskBenchOptions options;
  options.sectors = 62;
  DiskBench disk(options);
  EXPECT_EQ(CreateDiskLayout(disk.path().c_str()), 0);
  EXPECT_EQ(WriteLegacyLayout(disk.path().c_str()), 0);
  const std::vector<uint8_t> mbr = ReadImage(disk.imagePath(), 0, 512);
  EXPECT_EQ(std::count(mbr.begin(), mbr.end(), 0), 512);
}

TEST(LayoutRefusals, TheSystemDiskIsNeverLaidOut) {
  DiskBenchOptions options;
  options.systemDisk = true;
  DiskBench disk(options);
  std::string systemDisk;
  std::vector<platform::DeviceInterfaceEntry> disks;
  disk.bench().ListDeviceInterfaces(platform::kGuidDevInterfaceDisk, &disks);
  for (const auto& entry : disks) {
    if (entry.path != disk.path()) systemDisk = entry.path;
  }
  ASSERT_FALSE(systemDisk.empty());
  EXPECT_EQ(CreateDiskLayout(systemDisk.c_str()), 0);
  EXPECT_EQ(WriteLegacyLayout(systemDisk.c_str()), 0);
  // The product's own disk is laid out as usual.
  EXPECT_EQ(CreateDiskLayout(disk.path().c_str()), 1);
}

TEST(LayoutFailures, AFailedLayoutRequestIsAFailure) {
  DiskBench disk;
  sim::SystemFault fault;
  fault.op = sim::SystemOp::Layout;
  fault.count = -1;
  disk.bench().AddSystemFault(fault);
  EXPECT_EQ(CreateDiskLayout(disk.path().c_str()), 0);
  EXPECT_EQ(WriteLegacyLayout(disk.path().c_str()), 0);
  disk.bench().ClearSystemFaults();
  EXPECT_EQ(CreateDiskLayout(disk.path().c_str()), 1);
  EXPECT_EQ(disk.bench().OpenHandleCount(), 0);
}

TEST(LayoutFailures, ClearingTheOldBootSectorRetriesAndDoesNotStopTheLayout) {
  DiskBench disk;
  sim::SystemFault fault;
  fault.op = sim::SystemOp::Write;
  fault.count = 5;  // every attempt
  disk.bench().AddSystemFault(fault);
  EXPECT_EQ(CreateDiskLayout(disk.path().c_str()), 1);
}

TEST(LayoutVolume, TheVolumeComesBackUnderItsLetter) {
  DiskBench disk;
  ASSERT_EQ(CreateDiskLayout(disk.path().c_str()), 1);
  EXPECT_EQ(disk.WaitForLetter(), 'E');
}

}  // namespace
}  // namespace disk
