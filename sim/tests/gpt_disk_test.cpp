// GPT disks on the bench: a table that sgdisk writes onto the disk image is
// seen when the system re-reads the disk, its volume arrives, and the
// extended layout requests report it as GPT; a damaged primary table falls
// back to the backup.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/disk_ioctl.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/volumes.h"
#include "sim/bench.h"
#include "sim/disk_image.h"

namespace {

using namespace platform;

constexpr uint64_t kSectors = 131072;  // 64 MiB

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

class GptDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v sgdisk").empty()) GTEST_SKIP() << "gdisk missing";
    sim::ProductConfig p;
    p.name = "p";
    p.disk.sectors = kSectors;
    p.volume.letters = "E";
    p.volume.autoLetter = false;
    sim::BenchConfig config;
    config.products = {p};
    bench_ = std::make_shared<sim::Bench>(config);
    installed_ = std::make_unique<ScopedBackend>(bench_);
    image_ = bench_->product(0).WithBridge([](sim::EmulatedBridge& b) { return b.disk().path(); });
    // The system reads the disk when it arrives, before the tool writes.
    alignas(8) uint8_t layout[768] = {};
    ScopedDevice disk(bench_->product(0).path().c_str(), kAccessRead, kShareRead | kShareWrite);
    ASSERT_TRUE(DeviceIoControl(disk.get(), kIoctlDiskGetDriveLayoutEx, nullptr, 0, layout, sizeof layout, nullptr));
    // The tool lays the table out on a file of the disk's size; its sectors
    // then go onto the image (which ends in the bench's mark, past the disk).
    // (The bench's own image has no name of its own: the tool's file goes to the temporary folder.)
    table_ = (std::filesystem::temp_directory_path() / ("kestrova-gpt-" + std::to_string(::getpid()))).string();
    ASSERT_NE(Shell("truncate -s " + std::to_string(kSectors * 512) + " '" + table_ + "' && sgdisk -o -n 1:2048:0 -t 1:0700 -c 1:DATA '" +
                    table_ + "'").find("operation has completed"),
              std::string::npos);
    Shell("dd if='" + table_ + "' of='" + image_ + "' bs=512 count=34 conv=notrunc status=none && dd if='" + table_ +
          "' of='" + image_ + "' bs=512 skip=" + std::to_string(kSectors - 33) + " seek=" +
          std::to_string(kSectors - 33) + " count=33 conv=notrunc status=none");
  }
  void TearDown() override {
    if (!table_.empty()) std::remove(table_.c_str());
  }
  bool UpdateProperties() {
    ScopedDevice disk(bench_->product(0).path().c_str(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
    return DeviceIoControl(disk.get(), kIoctlDiskUpdateProperties, nullptr, 0, nullptr, 0, nullptr);
  }
  bool HasE() { return (GetLogicalDrives() & (1u << ('E' - 'A'))) != 0; }
  void Damage(uint64_t lba) {
    const int fd = ::open(image_.c_str(), O_RDWR);
    const char zeros[512] = {};
    ASSERT_EQ(::pwrite(fd, zeros, sizeof zeros, static_cast<off_t>(lba * 512)), 512);
    ::close(fd);
  }

  ScopedClockScale fast_{1000.0};
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<ScopedBackend> installed_;
  std::string image_;
  std::string table_;
};

TEST_F(GptDisk, ATableWrittenByTheToolIsTheLayoutOnceReRead) {
  ASSERT_TRUE(HasE());
  ASSERT_TRUE(UpdateProperties());
  EXPECT_FALSE(HasE()) << "the old volume goes at once";
  Sleep(2500);
  ASSERT_TRUE(HasE());

  ScopedDevice disk(bench_->product(0).path().c_str(), kAccessRead, kShareRead | kShareWrite);
  alignas(8) uint8_t buffer[768] = {};
  auto* layout = reinterpret_cast<DriveLayoutInformationEx*>(buffer);
  ASSERT_TRUE(DeviceIoControl(disk.get(), kIoctlDiskGetDriveLayoutEx, nullptr, 0, buffer, sizeof buffer, nullptr));
  EXPECT_EQ(layout->PartitionStyle, kPartitionStyleGpt);
  ASSERT_EQ(layout->PartitionCount, 1u);
  const PartitionInformationEx& e = layout->PartitionEntry[0];
  EXPECT_EQ(e.PartitionStyle, kPartitionStyleGpt);
  EXPECT_EQ(e.StartingOffset, 2048 * 512);
  EXPECT_EQ(e.PartitionLength, static_cast<int64_t>((kSectors - 34 - 2048 + 1) * 512));
  EXPECT_EQ(WideToAnsi(e.Gpt.Name, 4), "DATA");
  // The disk's id as the tool prints it (first three fields little-endian).
  std::smatch m;
  const std::string printed = Shell("sgdisk -p '" + table_ + "'");
  ASSERT_TRUE(std::regex_search(printed, m, std::regex("Disk identifier \\(GUID\\): ([0-9A-F-]+)"))) << printed;
  char id[40];
  const uint8_t* d = layout->Gpt.DiskId;
  std::snprintf(id, sizeof id, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", d[3], d[2],
                d[1], d[0], d[5], d[4], d[7], d[6], d[8], d[9], d[10], d[11], d[12], d[13], d[14], d[15]);
  EXPECT_EQ(m[1].str(), id);

  ScopedDevice volume("\\\\.\\E:", kAccessRead, kShareRead | kShareWrite);
  PartitionInformationEx part{};
  ASSERT_TRUE(DeviceIoControl(volume.get(), kIoctlDiskGetPartitionInfoEx, nullptr, 0, &part, sizeof part, nullptr));
  EXPECT_EQ(part.PartitionStyle, kPartitionStyleGpt);
  EXPECT_EQ(part.StartingOffset, 2048 * 512);
}

TEST_F(GptDisk, ADamagedPrimaryFallsBackToTheBackupAndBothDamagedGiveNoVolume) {
  Damage(1);
  ASSERT_TRUE(UpdateProperties());
  Sleep(2500);
  EXPECT_TRUE(HasE()) << "the backup header at the last sector still holds the layout";
  Damage(kSectors - 1);
  ASSERT_TRUE(UpdateProperties());
  Sleep(2500);
  EXPECT_FALSE(HasE()) << "a protective MBR with no GPT behind it has no partition";
}

}  // namespace
