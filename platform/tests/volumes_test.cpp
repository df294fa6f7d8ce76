// Drive letters and volumes, the system's own folders and version, against
// the bench: letters of products, the system drive, a network drive, a
// two-drive bridge and a drive-set change during a pass.
#include "platform/volumes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "platform/backend.h"
#include "platform/device_io.h"
#include "platform/tests/bench_text_fixture.h"
#include "platform/os_version.h"
#include "sim/bench.h"

namespace {

using namespace platform;

constexpr const char* kBench = R"(
[system]
network = Z
[product one]
serial = ONE00001
volume.label = PRODUCT
[product two]
chip = 1
serial = TWO00001
disk2 = 1
disk2.sectors = 2048
letters = GH
disk2.letters = K
[product raw]
serial = RAW00001
volume.fs = -
[product cd]
serial = CD000001
cdrom = 1
)";

constexpr uint32_t Bit(char letter) { return 1u << (letter - 'A'); }

// A data-in pass-through of `cdb` (its length is the CDB's) into `data`;
// false when the request itself failed.
bool SendDataIn(Handle device, std::initializer_list<uint8_t> cdb, void* data, uint32_t size,
                ScsiPassThroughDirect* r) {
  *r = ScsiPassThroughDirect{};
  r->Length = kScsiPassThroughDirectLength;
  r->CdbLength = static_cast<uint8_t>(cdb.size());
  r->DataIn = kScsiDataIn;
  r->DataTransferLength = size;
  r->TimeOutValue = 10;
  r->DataBuffer = data;
  std::copy(cdb.begin(), cdb.end(), r->Cdb);
  uint32_t returned = 0;
  return DeviceIoControl(device, kIoctlScsiPassThroughDirect, r, sizeof *r, r, sizeof *r, &returned);
}

class VolumesTest : public platform::testing::BenchTextTest {
 protected:
  VolumesTest() : BenchTextTest(kBench) {}

  static bool DeviceNumber(const std::string& path, StorageDeviceNumber* number) {
    ScopedDevice device(path.c_str(), kAccessNone, kShareRead | kShareWrite);
    uint32_t returned = 0;
    return device.valid() && DeviceIoControl(device.get(), kIoctlStorageGetDeviceNumber, nullptr, 0,
                                             number, sizeof *number, &returned);
  }
};

TEST_F(VolumesTest, LettersOfProductsTheSystemAndTheNetwork) {
  // Automatic letters from D for products that name none; C and Z are the system's.
  EXPECT_EQ(GetLogicalDrives(), Bit('C') | Bit('D') | Bit('E') | Bit('F') | Bit('G') | Bit('H') |
                                    Bit('K') | Bit('Z'));
  const struct {
    const char* root;
    uint32_t type;
  } cases[] = {{"C:\\", kDriveFixed}, {"D:\\", kDriveFixed},  {"f:", kDriveCdRom},
               {"Z:\\", kDriveRemote}, {"Q:\\", kDriveNoRootDir}, {"D", kDriveNoRootDir},
               {"D:\\x", kDriveNoRootDir}};
  for (const auto& c : cases) EXPECT_EQ(GetDriveType(c.root), c.type) << c.root;
  char folder[32];
  EXPECT_EQ(GetWindowsDirectory(folder, sizeof folder), 10u);
  EXPECT_STREQ(folder, "C:\\Windows");
  EXPECT_EQ(GetWindowsDirectory(folder, 5), 11u);  // the size needed
  EXPECT_EQ(GetSystemDirectory(folder, sizeof folder), 19u);
}

TEST_F(VolumesTest, VolumeHandlesShareTheirDiskNumberAndReachTheProduct) {
  StorageDeviceNumber disk{}, volume{}, system{};
  sim::Product& two = *bench_->FindByName("two");
  ASSERT_TRUE(DeviceNumber(two.path(), &disk));
  for (const char* v : {"\\\\.\\G:", "\\\\.\\H:", "\\\\.\\K:"}) {
    ASSERT_TRUE(DeviceNumber(v, &volume)) << v;
    EXPECT_EQ(volume.DeviceType, disk.DeviceType);
    EXPECT_EQ(volume.DeviceNumber, disk.DeviceNumber);
    EXPECT_GE(volume.PartitionNumber, 1u);
  }
  ASSERT_TRUE(DeviceNumber("\\\\.\\C:", &system));
  EXPECT_EQ(system.DeviceNumber, 0u);
  StorageDeviceNumber cd{};
  ASSERT_TRUE(DeviceNumber("\\\\.\\F:", &cd));
  EXPECT_EQ(cd.DeviceType, kFileDeviceCdRom);
  EXPECT_EQ(OpenDevice("\\\\.\\Z:", kAccessNone, kShareRead), kInvalidHandle);
  EXPECT_EQ(OpenDevice("\\\\.\\Q:", kAccessNone, kShareRead), kInvalidHandle);

  // A command on the volume lands on its product.
  two.EnableTrace(true);
  ScopedDevice handle("\\\\.\\K:", kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  uint8_t data[36] = {};
  ScsiPassThroughDirect r{};
  ASSERT_TRUE(SendDataIn(handle.get(), {0x12, 0, 0, 0, sizeof data, 0}, data, sizeof data, &r));
  EXPECT_EQ(r.ScsiStatus, kScsiStatusGood);
  EXPECT_EQ(two.TakeTrace().size(), 1u);
}

TEST_F(VolumesTest, VolumeInformationAndFreeSpace) {
  char label[33], fs[16];
  uint32_t serial = 0;
  ASSERT_TRUE(GetVolumeInformation("D:\\", label, sizeof label, &serial, nullptr, nullptr, fs, sizeof fs));
  EXPECT_STREQ(label, "PRODUCT");
  EXPECT_STREQ(fs, "NTFS");
  EXPECT_FALSE(GetVolumeInformation("D:\\", label, 4, nullptr, nullptr, nullptr, fs, sizeof fs));
  EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
  EXPECT_FALSE(GetVolumeInformation("E:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, sizeof fs));
  EXPECT_EQ(GetLastError(), kErrorUnrecognizedVolume);
  EXPECT_FALSE(GetVolumeInformation("Q:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, sizeof fs));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  uint64_t available = 0, total = 0, free = 0;
  ASSERT_TRUE(GetDiskFreeSpaceEx("D:\\", &available, &total, &free));
  EXPECT_EQ(total, bench_->FindByName("one")->config().disk.sectors * 512);
  EXPECT_GT(free, 0u);
  EXPECT_LE(free, total);
  EXPECT_FALSE(GetDiskFreeSpaceEx("E:\\", &available, &total, &free));
  ASSERT_TRUE(GetVolumeInformation("C:", nullptr, 0, nullptr, nullptr, nullptr, fs, sizeof fs));
}

TEST_F(VolumesTest, LettersLeaveWithTheirProductAndTheHookChangesTheSetMidPass) {
  sim::Product& one = *bench_->FindByName("one");
  one.Unplug();
  EXPECT_FALSE(GetLogicalDrives() & Bit('D'));
  EXPECT_EQ(GetDriveType("D:\\"), kDriveNoRootDir);
  one.Plug();
  // A drive arrives with the second query from here, as during a letter pass.
  const int start = bench_->DriveQueryCount();
  bench_->SetDriveQueryHook([&](int query) {
    if (query == start + 2) one.SetLetters(0, Bit('D') | Bit('M'));
  });
  const uint32_t first = GetLogicalDrives();
  EXPECT_FALSE(first & Bit('M'));
  const uint32_t second = GetLogicalDrives();
  EXPECT_TRUE(second & Bit('M'));
  EXPECT_EQ(bench_->DriveQueryCount() - start, 2);
  StorageDeviceNumber m{}, d{};
  ASSERT_TRUE(DeviceNumber("\\\\.\\M:", &m));
  ASSERT_TRUE(DeviceNumber("\\\\.\\D:", &d));
  EXPECT_EQ(m.DeviceNumber, d.DeviceNumber);
  EXPECT_NE(m.PartitionNumber, d.PartitionNumber);
  // A set that never settles, for the bound of the letter pass.
  bench_->SetDriveQueryHook([&](int query) { bench_->SetNetworkLetters(query % 2 ? Bit('Y') : 0); });
  EXPECT_NE(GetLogicalDrives(), GetLogicalDrives());
  bench_->SetDriveQueryHook(nullptr);
}

// READ CAPACITY(10) through a volume: the last block of the drive it lies on.
uint32_t LastBlockThrough(const char* volume) {
  ScopedDevice handle(volume, kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  uint8_t data[8] = {};
  ScsiPassThroughDirect r{};
  if (!SendDataIn(handle.get(), {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data, sizeof data, &r) ||
      r.ScsiStatus != kScsiStatusGood)
    return 0;
  return static_cast<uint32_t>(data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3]);
}

TEST_F(VolumesTest, VolumesOfTheSecondDriveReachThatDrive) {
  const auto& c = bench_->FindByName("two")->config();
  EXPECT_EQ(LastBlockThrough("\\\\.\\G:"), c.disk.sectors - 1);
  EXPECT_EQ(LastBlockThrough("\\\\.\\H:"), c.disk.sectors - 1);
  EXPECT_EQ(LastBlockThrough("\\\\.\\K:"), c.disk2.sectors - 1);
}

struct VersionCase {
  uint32_t major, minor;
  uint16_t servicePack;
};

class OsVersionTest : public VolumesTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(OsVersionTest, BothRecordSizesAnswerTheBenchVersion) {
  const VersionCase& c = GetParam();
  bench_->SetOsVersion(c.major, c.minor, c.servicePack);
  OsVersionInfo ex{};
  std::memset(&ex, 0xCC, sizeof ex);
  ex.dwOSVersionInfoSize = kOsVersionInfoExSize;
  ASSERT_TRUE(GetVersionEx(&ex));
  EXPECT_EQ(ex.dwMajorVersion, c.major);
  EXPECT_EQ(ex.dwMinorVersion, c.minor);
  EXPECT_EQ(ex.wServicePackMajor, c.servicePack);
  EXPECT_EQ(ex.dwPlatformId, 2u);

  OsVersionInfo basic{};
  std::memset(&basic, 0xCC, sizeof basic);
  basic.dwOSVersionInfoSize = kOsVersionInfoSize;
  ASSERT_TRUE(GetVersionEx(&basic));
  EXPECT_EQ(basic.dwMajorVersion, c.major);
  EXPECT_EQ(basic.wServicePackMajor, 0xCCCC);  // past the basic record: untouched

  OsVersionInfo wrong{};
  wrong.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionEx(&wrong));
}

INSTANTIATE_TEST_SUITE_P(Releases, OsVersionTest,
                         ::testing::Values(VersionCase{5, 0, 4}, VersionCase{6, 0, 0}, VersionCase{6, 0, 2},
                                           VersionCase{6, 1, 1}, VersionCase{6, 3, 0}, VersionCase{10, 0, 0}));

TEST(OsVersionDefaultTest, BenchFileSetsTheVersion) {
  std::string error;
  auto bench = sim::Bench::FromText("[system]\nos = 6.1\nservice_pack = 1\n", &error);
  ASSERT_TRUE(bench) << error;
  ScopedBackend installed(bench);
  OsVersionInfo info{};
  info.dwOSVersionInfoSize = kOsVersionInfoExSize;
  ASSERT_TRUE(GetVersionEx(&info));
  EXPECT_EQ(info.dwMajorVersion, 6u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(info.wServicePackMajor, 1);
  EXPECT_STREQ(info.szCSDVersion, "Service Pack 1");
}

}  // namespace
