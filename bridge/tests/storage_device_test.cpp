// Drive letters of a disk and its size from the drive geometry.
#include "bridge/storage_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "bridge/tests/fake_backend.h"
#include "platform/backend.h"
#include "sim/bench.h"

namespace bridge {
namespace {

using testing::FakeBackend;

const char* const kDiskPath = "\\\\?\\usbstor#disk&ven_q#5#{guid}";

class DriveLetters : public ::testing::Test {
 protected:
  DriveLetters() {
    fake_->deviceNumbers[kDiskPath] = {platform::kFileDeviceDisk, 3, 0};
    fake_->systemDrive = 'C';
  }
  std::shared_ptr<FakeBackend> fake_ = std::make_shared<FakeBackend>();
  platform::ScopedBackend installed_{fake_};
};

TEST_F(DriveLetters, EveryVolumeOfTheDiskInOrder) {
  fake_->AddVolume('H', 3, "NTFS", 0);
  fake_->AddVolume('E', 4, "NTFS", 0);  // another disk
  fake_->AddVolume('F', 3, "FAT32", 0);
  fake_->AddVolume('Z', 3, "NTFS", 0);
  fake_->AddVolume('G', 3, "NTFS", 0);
  fake_->deviceNumbers["\\\\.\\G:"].DeviceType = platform::kFileDeviceCdRom;  // same number, other type
  char letters[kDriveLetterCount + 1];
  EXPECT_EQ(FindDriveLetters(kDiskPath, letters), 3);
  EXPECT_STREQ(letters, "FHZ");
  char letter = 0;
  EXPECT_EQ(FindDriveLetter(kDiskPath, &letter), 1);
  EXPECT_EQ(letter, 'F');
}

TEST_F(DriveLetters, NeverTheSystemDrive) {
  fake_->AddVolume('C', 3, "NTFS", 0);  // the Windows folder's drive, on the same disk
  fake_->AddVolume('K', 3, "NTFS", 0);
  char letter = 0;
  EXPECT_EQ(FindDriveLetter(kDiskPath, &letter), 1);
  EXPECT_EQ(letter, 'K');
  fake_->volumes.erase('K');
  letter = 0;
  EXPECT_EQ(FindDriveLetter(kDiskPath, &letter), 0);
  EXPECT_EQ(letter, 0);
}

TEST_F(DriveLetters, UnreadableNumbers) {
  fake_->AddVolume('D', 3, "NTFS", 0);
  fake_->AddVolume('E', 3, "NTFS", 0);
  fake_->deviceNumbers.erase("\\\\.\\D:");  // skipped
  char letter = 0;
  EXPECT_EQ(FindDriveLetter(kDiskPath, &letter), 1);
  EXPECT_EQ(letter, 'E');
  fake_->deviceNumbers.erase(kDiskPath);  // the disk's own: nothing found
  char letters[kDriveLetterCount + 1] = "stale";
  EXPECT_EQ(FindDriveLetters(kDiskPath, letters), 0);
  EXPECT_STREQ(letters, "");
  EXPECT_EQ(FindDriveLetter(kDiskPath, &letter), 0);
}

TEST_F(DriveLetters, AllTwentySixFit) {
  fake_->systemDrive = '\0';
  for (char c = 'A'; c <= 'Z'; ++c) fake_->AddVolume(c, 3, "NTFS", 0);
  char letters[kDriveLetterCount + 1];
  EXPECT_EQ(FindDriveLetters(kDiskPath, letters), 26);
  EXPECT_STREQ(letters, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST(BenchDriveLetters, TwoVolumesAndTheirNeighbours) {
  std::string error;
  const std::shared_ptr<sim::Bench> bench = sim::Bench::FromText(
      "[product a]\nchip = 21\nletters = EF\n[product b]\nchip = 25\nletters = G\n"
      "[product c]\nchip = 13\nletters = -\n",
      &error);
  ASSERT_NE(bench, nullptr) << error;
  platform::ScopedBackend installed(bench);
  char letters[kDriveLetterCount + 1];
  EXPECT_EQ(FindDriveLetters(bench->product(0).path().c_str(), letters), 2);
  EXPECT_STREQ(letters, "EF");
  char letter = 0;
  EXPECT_EQ(FindDriveLetter(bench->product(1).path().c_str(), &letter), 1);
  EXPECT_EQ(letter, 'G');
  EXPECT_EQ(FindDriveLetter(bench->product(2).path().c_str(), &letter), 0);
}

struct GeometryCase {
  const char* name;
  FakeBackend::Geometry geometry;
  uint32_t megabytes;
};

class DiskSize : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(DiskSize, FromGeometry) {
  auto fake = std::make_shared<FakeBackend>();
  fake->geometries[kDiskPath] = GetParam().geometry;
  platform::ScopedBackend installed(fake);
  EXPECT_EQ(GetDiskSizeMB(kDiskPath), GetParam().megabytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskSize,
    ::testing::Values(GeometryCase{"OneByteShortOfAMegabyte", {1, 1, 1, 1048575}, 0},
                      GeometryCase{"OneMegabyte", {1, 1, 2048, 512}, 1},
                      // 64-bit product: beyond 4 GB in bytes.
                      GeometryCase{"TwoTerabytes", {243201, 255, 63, 512}, 1907726},
                      GeometryCase{"BeyondSixtyFourBits", {INT64_MAX, 255, 63, 512}, 0},
                      GeometryCase{"NegativeCylinders", {-1, 255, 63, 512}, 0}),
    [](const ::testing::TestParamInfo<GeometryCase>& info) { return info.param.name; });

TEST(DiskSizeFailure, UnopenedOrUnanswered) {
  auto fake = std::make_shared<FakeBackend>();
  fake->geometries[kDiskPath] = {1, 1, 2048, 512};
  fake->unopenable.push_back(kDiskPath);
  platform::ScopedBackend installed(fake);
  EXPECT_EQ(GetDiskSizeMB(kDiskPath), 0u);
  EXPECT_EQ(GetDiskSizeMB("\\\\?\\usbstor#disk&ven_q#6#{guid}"), 0u);  // no geometry
}

}  // namespace
}  // namespace bridge
