// The bench's disks and volumes through the platform calls: layouts read
// back by sfdisk, volumes that go and come back RAW, locks, mounts of a
// FAT32 that mkfs.fat wrote, the emulated programs and the format service.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/disk_ioctl.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/volumes.h"
#include "platform/windows.h"
#include "sim/bench.h"
#include "sim/disk_image.h"

namespace {

using namespace platform;

constexpr uint64_t kSectors = 131072;  // 64 MiB of 512-byte sectors

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

class Storage : public ::testing::Test {
 protected:
  static sim::ProductConfig Product(uint32_t sectorSize = 512, uint64_t sectors = kSectors) {
    sim::ProductConfig p;
    p.name = "p";
    p.disk.sectors = sectors;
    p.disk.sectorSize = sectorSize;
    p.volume.letters = "E";
    p.volume.autoLetter = false;
    return p;
  }
  void Make(sim::BenchConfig config) {
    installed_.reset();
    bench_ = std::make_shared<sim::Bench>(config);
    installed_ = std::make_unique<ScopedBackend>(bench_);
  }
  void SetUp() override {
    sim::BenchConfig config;
    config.products = {Product()};
    Make(config);
  }
  std::string DiskPath() { return bench_->product(0).path(); }
  std::string ImagePath() {
    return bench_->product(0).WithBridge([](sim::EmulatedBridge& b) { return b.disk().path(); });
  }
  // One MBR partition from 63 to the end through the extended requests.
  bool LayOut(uint8_t type = kPartitionIfs) {
    ScopedDevice disk(DiskPath().c_str(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
    CreateDisk create{};
    create.PartitionStyle = kPartitionStyleMbr;
    if (!DeviceIoControl(disk.get(), kIoctlDiskCreateDisk, &create, sizeof create, nullptr, 0, nullptr))
      return false;
    alignas(8) uint8_t buffer[768] = {};
    auto* layout = reinterpret_cast<DriveLayoutInformationEx*>(buffer);
    if (!DeviceIoControl(disk.get(), kIoctlDiskGetDriveLayoutEx, nullptr, 0, buffer, sizeof buffer, nullptr))
      return false;
    PartitionInformationEx& e = layout->PartitionEntry[0];
    e.PartitionStyle = kPartitionStyleMbr;
    e.StartingOffset = 63 * 512;
    e.PartitionLength = static_cast<int64_t>((kSectors - 63) * 512);
    e.PartitionNumber = 1;
    e.RewritePartition = 1;
    e.Mbr.PartitionType = type;
    e.Mbr.RecognizedPartition = 1;
    return DeviceIoControl(disk.get(), kIoctlDiskSetDriveLayoutEx, buffer, sizeof buffer, nullptr, 0, nullptr);
  }
  // Lets the new volume arrive.
  void Arrive() { Sleep(2500); }

  ScopedClockScale fast_{1000.0};
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<ScopedBackend> installed_;
};

TEST_F(Storage, LayoutReadsBackWithSfdiskInBothForms) {
  ASSERT_TRUE(LayOut());
  std::string dump = Shell("sfdisk --dump '" + ImagePath() + "' 2>/dev/null");
  EXPECT_NE(dump.find("label: dos"), std::string::npos) << dump;
  EXPECT_NE(dump.find("start=          63, size=      131009, type=7"), std::string::npos) << dump;

  // The legacy form reads the same table and rewrites the entry it is given.
  ScopedDevice disk(DiskPath().c_str(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  alignas(8) uint8_t buffer[168] = {};
  auto* layout = reinterpret_cast<DriveLayoutInformation*>(buffer);
  ASSERT_TRUE(DeviceIoControl(disk.get(), kIoctlDiskGetDriveLayout, nullptr, 0, buffer, sizeof buffer, nullptr));
  ASSERT_EQ(layout->PartitionCount, 4u);
  EXPECT_EQ(layout->PartitionEntry[0].StartingOffset, 63 * 512);
  EXPECT_EQ(layout->PartitionEntry[0].HiddenSectors, 63u);
  layout->PartitionEntry[0].StartingOffset = 2048 * 512;
  layout->PartitionEntry[0].PartitionLength = (kSectors - 2048) * 512;
  layout->PartitionEntry[0].PartitionType = kPartitionFat32Xint13;
  layout->PartitionEntry[0].RewritePartition = 1;
  ASSERT_TRUE(DeviceIoControl(disk.get(), kIoctlDiskSetDriveLayout, buffer, sizeof buffer, nullptr, 0, nullptr));
  dump = Shell("sfdisk --dump '" + ImagePath() + "' 2>/dev/null");
  EXPECT_NE(dump.find("start=        2048, size=      129024, type=c"), std::string::npos) << dump;
}

TEST_F(Storage, LayoutRequestsRefuseWhatDoesNotFit) {
  ScopedDevice disk(DiskPath().c_str(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  alignas(8) uint8_t buffer[768] = {};
  auto* layout = reinterpret_cast<DriveLayoutInformationEx*>(buffer);
  ASSERT_TRUE(DeviceIoControl(disk.get(), kIoctlDiskGetDriveLayoutEx, nullptr, 0, buffer, sizeof buffer, nullptr));
  struct Case {
    int64_t start, length;
  } cases[] = {{63 * 512, static_cast<int64_t>(kSectors * 512)}, {100, 512 * 100}};
  for (const Case& c : cases) {
    layout->PartitionEntry[0].StartingOffset = c.start;
    layout->PartitionEntry[0].PartitionLength = c.length;
    layout->PartitionEntry[0].RewritePartition = 1;
    layout->PartitionEntry[0].Mbr.PartitionType = 7;
    EXPECT_FALSE(DeviceIoControl(disk.get(), kIoctlDiskSetDriveLayoutEx, buffer, sizeof buffer, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  // A buffer short of its entries is refused, not read past.
  EXPECT_FALSE(DeviceIoControl(disk.get(), kIoctlDiskSetDriveLayoutEx, buffer, 100, nullptr, 0, nullptr));
}

TEST_F(Storage, VolumeGoesAndComesBackRawUnderItsLetterWithThePrompt) {
  ASSERT_NE(GetLogicalDrives() & (1u << ('E' - 'A')), 0u);
  ASSERT_TRUE(LayOut());
  EXPECT_EQ(GetLogicalDrives() & (1u << ('E' - 'A')), 0u) << "the old volume goes at once";
  Arrive();
  ASSERT_NE(GetLogicalDrives() & (1u << ('E' - 'A')), 0u);
  char label[64], fileSystem[16];
  EXPECT_FALSE(GetVolumeInformation("E:\\", label, sizeof label, nullptr, nullptr, nullptr, fileSystem,
                                    sizeof fileSystem));
  EXPECT_EQ(GetLastError(), kErrorUnrecognizedVolume);
  const WindowId prompt = FindWindow("#32770", "Microsoft Windows");
  ASSERT_NE(prompt, 0u);
  EXPECT_TRUE(PostMessage(prompt, kWmClose, 0, 0));
  EXPECT_EQ(FindWindow("#32770", "Microsoft Windows"), 0u);
  EXPECT_FALSE(PostMessage(prompt, kWmClose, 0, 0));
}

TEST_F(Storage, NoPromptBeforeWindows7) {
  bench_->SetOsVersion(6, 0, 2);
  ASSERT_TRUE(LayOut());
  Arrive();
  EXPECT_EQ(FindWindow("#32770", "Microsoft Windows"), 0u);
}

TEST_F(Storage, LockFailsWhileAnotherHandleOrFileIsOpen) {
  Handle volume = CreateFile("\\\\.\\E:", kAccessRead | kAccessWrite, kShareRead | kShareWrite, kOpenExisting,
                             kFileFlagNoBuffering);
  ASSERT_NE(volume, kInvalidHandle);
  {
    ScopedDevice other("\\\\.\\E:", kAccessRead, kShareRead | kShareWrite);
    EXPECT_FALSE(DeviceIoControl(volume, kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  }
  Handle file = CreateFile("E:\\open.txt", kAccessWrite, 0, kCreateAlways, kFileAttributeNormal);
  ASSERT_NE(file, kInvalidHandle);
  EXPECT_FALSE(DeviceIoControl(volume, kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
  CloseHandle(file);
  ASSERT_TRUE(DeviceIoControl(volume, kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
  // Locked: nobody else gets at its data; a query of the device still
  // reaches it.
  EXPECT_EQ(CreateFile("\\\\.\\E:", kAccessRead, kShareRead | kShareWrite, kOpenExisting, 0), kInvalidHandle);
  EXPECT_EQ(CreateFile("E:\\x.txt", kAccessWrite, 0, kCreateAlways, 0), kInvalidHandle);
  {
    ScopedDevice query("\\\\.\\E:", kAccessNone, kShareRead | kShareWrite);
    EXPECT_TRUE(query.valid());
    StorageDeviceNumber number{};
    EXPECT_TRUE(DeviceIoControl(query.get(), kIoctlStorageGetDeviceNumber, nullptr, 0, &number, sizeof number,
                                nullptr));
  }
  CloseHandle(volume);  // closing the locking handle unlocks
  ScopedDevice again("\\\\.\\E:", kAccessRead, kShareRead | kShareWrite);
  EXPECT_TRUE(again.valid());
}

// A handle that only queries the device (no read or write access, as a
// device listing opens one) goes straight to the device: the file system
// never counts it, so it keeps no lock from the formatter.
TEST_F(Storage, AQueryHandleKeepsNoLockFromTheVolume) {
  ScopedDevice query("\\\\.\\E:", kAccessNone, kShareRead | kShareWrite);
  ASSERT_TRUE(query.valid());
  ScopedDevice volume("\\\\.\\E:", kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  ASSERT_TRUE(DeviceIoControl(volume.get(), kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
  ASSERT_TRUE(DeviceIoControl(volume.get(), kFsctlUnlockVolume, nullptr, 0, nullptr, 0, nullptr));
  // Nor does it lock the volume itself while a data handle is open.
  EXPECT_FALSE(DeviceIoControl(query.get(), kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
}

TEST_F(Storage, LockFaultFailsOnceThenLocks) {
  bench_->AddSystemFault({sim::SystemOp::Lock, "p", 0, 1, 0});
  ScopedDevice volume("\\\\.\\E:", kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  EXPECT_FALSE(DeviceIoControl(volume.get(), kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_TRUE(DeviceIoControl(volume.get(), kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_FALSE(DeviceIoControl(volume.get(), kFsctlUnlockVolume, nullptr, 0, nullptr, 0, nullptr) &&
               DeviceIoControl(volume.get(), kFsctlUnlockVolume, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), kErrorNotLocked);
}

// mkfs.fat writes a FAT32 into the partition; a dismount and unlock mount
// it, and the bench reports what mkfs.fat put there.
TEST_F(Storage, MountRecognisesAFat32WrittenByMkfs) {
  ASSERT_TRUE(LayOut(kPartitionFat32Xint13));
  Arrive();
  const uint64_t partitionKiB = (kSectors - 63) / 2;
  const std::string out = Shell("mkfs.fat -F 32 -s 1 -n KVLABEL -i 1234ABCD --offset=63 -h 63 '" + ImagePath() +
                              "' " + std::to_string(partitionKiB) + " 2>&1");
  Handle volume = CreateFile("\\\\.\\E:", kAccessRead | kAccessWrite, kShareRead | kShareWrite, kOpenExisting, 0);
  ASSERT_NE(volume, kInvalidHandle) << out;
  ASSERT_TRUE(DeviceIoControl(volume, kFsctlLockVolume, nullptr, 0, nullptr, 0, nullptr));
  ASSERT_TRUE(DeviceIoControl(volume, kFsctlDismountVolume, nullptr, 0, nullptr, 0, nullptr));
  ASSERT_TRUE(DeviceIoControl(volume, kFsctlUnlockVolume, nullptr, 0, nullptr, 0, nullptr));
  CloseHandle(volume);
  char label[64] = {}, fileSystem[16] = {};
  uint32_t serial = 0;
  ASSERT_TRUE(GetVolumeInformation("E:\\", label, sizeof label, &serial, nullptr, nullptr, fileSystem,
                                   sizeof fileSystem))
      << out;
  EXPECT_STREQ(label, "KVLABEL");
  EXPECT_STREQ(fileSystem, "FAT32");
  EXPECT_EQ(serial, 0x1234ABCDu);
  // Size as the tool lays it out: its data sectors in 512-byte clusters.
  const std::string minfo = Shell("MTOOLS_SKIP_CHECK=1 minfo -i '" + ImagePath() + "@@32256' :: 2>&1");
  uint64_t total = 0, free = 0;
  ASSERT_TRUE(GetDiskFreeSpaceEx("E:\\", &free, &total, nullptr));
  const size_t at = minfo.find("big size: ");
  ASSERT_NE(at, std::string::npos) << minfo;
  const uint64_t bigSize = std::stoull(minfo.substr(at + 10));
  const size_t fatAt = minfo.find("Big fatlen=");
  const size_t resAt = minfo.find("reserved (boot) sectors: ");
  const size_t freeAt = minfo.find("free clusters=");
  ASSERT_TRUE(fatAt != std::string::npos && resAt != std::string::npos && freeAt != std::string::npos) << minfo;
  const uint64_t fatLen = std::stoull(minfo.substr(fatAt + 11));
  const uint64_t reserved = std::stoull(minfo.substr(resAt + 25));
  EXPECT_EQ(total, (bigSize - reserved - 2 * fatLen) * 512) << minfo;
  EXPECT_EQ(free, std::stoull(minfo.substr(freeAt + 14)) * 512) << minfo;
}

TEST_F(Storage, RawVolumeTransfersCountFromThePartitionPassThroughFromTheDisk) {
  ASSERT_TRUE(LayOut());
  Arrive();
  Handle volume = CreateFile("\\\\.\\E:", kAccessRead | kAccessWrite, kShareRead | kShareWrite, kOpenExisting,
                             kFileFlagNoBuffering);
  ASSERT_NE(volume, kInvalidHandle);
  std::array<uint8_t, 512> sector;
  for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_TRUE(SetFilePointerEx(volume, 2 * 512, nullptr, kFileBegin));
  uint32_t written = 0;
  ASSERT_TRUE(WriteFile(volume, sector.data(), 512, &written));
  EXPECT_EQ(written, 512u);
  // The same bytes at disk LBA 63 + 2 by READ(10) on the same handle.
  std::array<uint8_t, 512> back{};
  ScsiPassThroughDirect r{};
  r.Length = kScsiPassThroughDirectLength;
  r.CdbLength = 10;
  r.DataIn = kScsiDataIn;
  r.DataTransferLength = 512;
  r.TimeOutValue = 10;
  r.DataBuffer = back.data();
  r.SenseInfoOffset = 48;
  r.Cdb[0] = 0x28;
  r.Cdb[5] = 65;
  r.Cdb[8] = 1;
  ASSERT_TRUE(DeviceIoControl(volume, kIoctlScsiPassThroughDirect, &r, sizeof r, &r, sizeof r, nullptr));
  EXPECT_EQ(back, sector);
  // And in the image file itself.
  std::ifstream image(ImagePath(), std::ios::binary);
  image.seekg(65 * 512);
  std::array<uint8_t, 512> raw{};
  image.read(reinterpret_cast<char*>(raw.data()), 512);
  EXPECT_EQ(raw, sector);
  // Part sectors and unaligned positions are refused.
  ASSERT_TRUE(SetFilePointerEx(volume, 100, nullptr, kFileBegin));
  EXPECT_FALSE(WriteFile(volume, sector.data(), 512, &written));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  ASSERT_TRUE(SetFilePointerEx(volume, 0, nullptr, kFileBegin));
  EXPECT_FALSE(WriteFile(volume, sector.data(), 100, &written));
  // A write fault.
  bench_->AddSystemFault({sim::SystemOp::Write, "", 0, 1, 0});
  EXPECT_FALSE(WriteFile(volume, sector.data(), 512, &written));
  EXPECT_EQ(GetLastError(), kErrorWriteFault);
  CloseHandle(volume);
}

TEST_F(Storage, FourKDisksRefuseAFiveHundredTwelveByteWrite) {
  sim::BenchConfig config;
  config.products = {Product(4096, 32768)};
  Make(config);
  ScopedDevice disk(DiskPath().c_str(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
  DiskGeometry g{};
  ASSERT_TRUE(DeviceIoControl(disk.get(), kIoctlDiskGetDriveGeometry, nullptr, 0, &g, sizeof g, nullptr));
  EXPECT_EQ(g.BytesPerSector, 4096u);
  std::vector<uint8_t> zeros(4096, 0);
  ASSERT_TRUE(SetFilePointerEx(disk.get(), 63 * 4096, nullptr, kFileBegin));
  uint32_t written = 0;
  EXPECT_FALSE(WriteFile(disk.get(), zeros.data(), 512, &written));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_TRUE(WriteFile(disk.get(), zeros.data(), 4096, &written));
}

// ---- Programs.

class Programs : public Storage {
 protected:
  // Writes a file on the bench's system drive and returns its Windows path.
  std::string WriteTemp(const std::string& name, const std::string& content) {
    char temp[kMaxPath];
    EXPECT_GT(GetTempPath(sizeof temp, temp), 0u);
    const std::string path = std::string(temp) + name;
    Handle h = CreateFile(path.c_str(), kAccessWrite, 0, kCreateAlways, kFileAttributeNormal);
    EXPECT_NE(h, kInvalidHandle);
    EXPECT_TRUE(WriteFile(h, content.data(), static_cast<uint32_t>(content.size()), nullptr));
    CloseHandle(h);
    return path;
  }
  // Starts, waits up to `waitMs` and returns the exit code (kStillActive
  // when it did not end; it is then ended).
  uint32_t RunHidden(const char* file, const std::string& parameters, uint32_t waitMs = 60000,
                     const char* verb = nullptr) {
    ShellExecuteInfo info;
    info.fMask = kSeeMaskNoCloseProcess;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = kSwHide;
    if (!ShellExecuteEx(&info)) return 0xDEAD;
    uint32_t code = 0;
    // An ended program answers kStillActive as its exit code.
    if (WaitForSingleObject(info.hProcess, waitMs) == kWaitTimeout)
      (void)TerminateProcess(info.hProcess, kStillActive);
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    CloseHandle(info.hProcess);
    return code;
  }
};

TEST_F(Programs, DiskpartRescanShowsPendingDisksOnlyWithAQuotedScriptPath) {
  bench_->SetDiskPending(bench_->product(0), true);
  EXPECT_EQ(OpenDevice(DiskPath().c_str(), kAccessNone, kShareRead), kInvalidHandle);
  const std::string script = WriteTemp("qvs1.TMP", "rescan\r\n");
  ASSERT_NE(script.find(' '), std::string::npos) << "the temp path has a space";
  // Unquoted, the path falls apart at its space.
  EXPECT_NE(RunHidden("cmd.exe", "/c diskpart.exe /s " + script + " > nul"), 0u);
  EXPECT_TRUE(bench_->DiskPending(bench_->product(0)));
  EXPECT_EQ(RunHidden("cmd.exe", "/c diskpart.exe /s \"" + script + "\" > nul"), 0u);
  EXPECT_FALSE(bench_->DiskPending(bench_->product(0)));
  ScopedDevice seen(DiskPath().c_str(), kAccessNone, kShareRead);
  EXPECT_TRUE(seen.valid());
}

TEST_F(Programs, StartFailuresExitCodesAndMissingPrograms) {
  bench_->AddSystemFault({sim::SystemOp::Start, "cmd.exe", 0, 1, kErrorAccessDenied});
  ShellExecuteInfo info;
  info.lpFile = "cmd.exe";
  info.lpParameters = "/c rem";
  EXPECT_FALSE(ShellExecuteEx(&info));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  bench_->AddSystemFault({sim::SystemOp::ExitCode, "diskpart.exe", 0, 1, 3});
  const std::string script = WriteTemp("s.txt", "rescan\r\n");
  EXPECT_EQ(RunHidden("cmd.exe", "/c diskpart.exe /s \"" + script + "\""), 3u);
  EXPECT_EQ(RunHidden("cmd.exe", "/c diskpart.exe /s \"" + script + "\""), 0u);
  const std::string bad = WriteTemp("bad.txt", "select disk 9\r\n");
  EXPECT_NE(RunHidden("cmd.exe", "/c diskpart.exe /s \"" + bad + "\""), 0u);

  sim::BenchConfig config;
  config.products = {Product()};
  config.system.missingPrograms = {"diskpart.exe", "format.com"};
  Make(config);
  EXPECT_EQ(GetFileAttributes("C:\\Windows\\system32\\diskpart.exe"), kInvalidFileAttributes);
  EXPECT_NE(GetFileAttributes("C:\\Windows\\system32\\cmd.exe"), kInvalidFileAttributes);
  EXPECT_EQ(RunHidden("cmd.exe", "/c diskpart.exe /s x"), 9009u);
  info = ShellExecuteInfo{};
  info.lpFile = "format.com";
  EXPECT_FALSE(ShellExecuteEx(&info));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(Programs, FormatBatchSetsFileSystemLabelAndEmptiesTheView) {
  Handle old = CreateFile("E:\\old.txt", kAccessWrite, 0, kCreateAlways, 0);
  ASSERT_NE(old, kInvalidHandle);
  CloseHandle(old);
  uint32_t serialBefore = 0;
  ASSERT_TRUE(GetVolumeInformation("E:\\", nullptr, 0, &serialBefore, nullptr, nullptr, nullptr, 0));
  const std::string batch = WriteTemp("qvfmt.bat", "echo y | format.com E: /q /fs:exFAT /x /a:32K && label E: DATA");
  EXPECT_EQ(RunHidden(batch.c_str(), "", 60000, "runas"), 0u);
  char label[64] = {}, fileSystem[16] = {};
  uint32_t serial = 0;
  ASSERT_TRUE(GetVolumeInformation("E:\\", label, sizeof label, &serial, nullptr, nullptr, fileSystem,
                                   sizeof fileSystem));
  EXPECT_STREQ(fileSystem, "exFAT");
  EXPECT_STREQ(label, "DATA");
  EXPECT_NE(serial, serialBefore);
  EXPECT_EQ(GetFileAttributes("E:\\old.txt"), kInvalidFileAttributes);
  const auto log = bench_->CommandLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 2], "format.com E: /q /fs:exFAT /x /a:32K");
  EXPECT_EQ(log.back(), "label E: DATA");
}

TEST_F(Programs, BatchLinesBehaveAsTheShellTakesThem) {
  struct Case {
    const char* line;
    uint32_t exitCode;      // kStillActive: it never ends
    const char* smuggled;   // a command that must (or must not, "") show in the log
  } cases[] = {
      {"format.com E: /q /fs:NTFS /x", kStillActive, ""},              // no answer to its prompt
      {"echo y | format.com E: /q /fs:NTFS /x && label E:", kStillActive, ""},  // label asks for one
      {"echo y | format.com E: /q /fs:NTFS /x && label E: A&calc", 9009, "calc"},
      {"echo y | format.com E: /q /fs:NTFS /x && label E: \"A&calc\"", 0, ""},
      {"echo y | format.com E: /q /fs:NTFS /x && label E: A^&calc", 0, ""},
      {"echo y | format.com E: /q /fs:FAT32 /x /a:512", 0, ""},
      {"echo y | format.com E: /q /fs:NTFS /x /a:3K", 1, ""},
      {"echo n | format.com E: /q /fs:NTFS /x", 5, ""},
  };
  for (const Case& c : cases) {
    const std::string batch = WriteTemp("qvfmt.bat", c.line);
    const size_t before = bench_->CommandLog().size();
    EXPECT_EQ(RunHidden(batch.c_str(), "", 20000), c.exitCode) << c.line;
    const auto log = bench_->CommandLog();
    bool found = false;
    for (size_t i = before; i < log.size(); ++i) found |= log[i] == "calc";
    EXPECT_EQ(found, std::string(c.smuggled) == "calc") << c.line;
  }
}

TEST_F(Programs, LabelRulesOfTheFileSystem) {
  const std::string batch = WriteTemp("f.bat", "echo y | format.com E: /q /fs:FAT32 /x /a:512");
  ASSERT_EQ(RunHidden(batch.c_str(), ""), 0u);
  EXPECT_FALSE(SetVolumeLabel("E:\\", "TWELVECHARSX"));
  EXPECT_EQ(GetLastError(), kErrorLabelTooLong);
  EXPECT_FALSE(SetVolumeLabel("E:\\", "A*B"));
  EXPECT_EQ(GetLastError(), kErrorInvalidLabel);
  ASSERT_TRUE(SetVolumeLabel(u"E:\\", u"data"));
  char16_t label[64] = {};
  ASSERT_TRUE(GetVolumeInformation(u"E:\\", label, 64, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(std::u16string(label), u"DATA") << "FAT keeps labels in upper case";
  bench_->AddSystemFault({sim::SystemOp::SetLabel, "", 0, 1, 0});
  EXPECT_FALSE(SetVolumeLabel("E:\\", "X"));
}

// ---- The format service.

struct ServiceLog {
  std::vector<std::string> texts;
  int done = -1;
  int progress = 0;
};
ServiceLog* g_serviceLog = nullptr;  // the callback has no context pointer

uint8_t ServiceCallback(int command, uint32_t, void* info) {
  if (command == kFmifsProgress) ++g_serviceLog->progress;
  if (command == kFmifsOutput) g_serviceLog->texts.push_back(static_cast<FmifsTextOutput*>(info)->Output);
  if (command == kFmifsDone) g_serviceLog->done = *static_cast<uint8_t*>(info);
  return 1;
}

TEST_F(Storage, FormatServiceThroughTheModule) {
  ASSERT_EQ(GetModuleHandle("fmifs.dll"), nullptr);
  Module fmifs = LoadLibrary("fmifs.dll");
  ASSERT_NE(fmifs, nullptr);
  EXPECT_EQ(GetModuleHandle("FMIFS.DLL"), fmifs);
  auto formatEx = reinterpret_cast<FormatExFunction>(GetProcAddress(fmifs, "FormatEx"));
  ASSERT_NE(formatEx, nullptr);
  EXPECT_NE(GetProcAddress(fmifs, "EnableVolumeCompression"), nullptr);
  EXPECT_EQ(GetProcAddress(fmifs, "Nothing"), nullptr);
  ServiceLog log;
  g_serviceLog = &log;
  formatEx(u"E:\\", kFmifsHardDisk, u"NTFS", u"%s%n", 1, 0, &ServiceCallback);
  EXPECT_EQ(log.done, 1);
  EXPECT_GT(log.progress, 0);
  ASSERT_FALSE(log.texts.empty());
  EXPECT_NE(log.texts[0].find("%s%n"), std::string::npos) << "the text is handed out as it is";
  char label[64] = {}, fileSystem[16] = {};
  ASSERT_TRUE(GetVolumeInformation("E:\\", label, sizeof label, nullptr, nullptr, nullptr, fileSystem,
                                   sizeof fileSystem));
  EXPECT_STREQ(fileSystem, "NTFS");
  EXPECT_STREQ(label, "%s%n");

  bench_->AddSystemFault({sim::SystemOp::Format, "", 0, 1, 0});
  log = ServiceLog{};
  formatEx(u"E:\\", kFmifsHardDisk, u"NTFS", u"X", 1, 0, &ServiceCallback);
  EXPECT_EQ(log.done, 0);
  // FAT32 on a big volume is refused, as the system does.
  log = ServiceLog{};
  g_serviceLog = &log;
  sim::BenchConfig config;
  config.products = {Product(512, 80ull << 21)};  // 80 GiB
  Make(config);
  formatEx(u"E:\\", kFmifsHardDisk, u"FAT32", u"X", 1, 0, &ServiceCallback);
  EXPECT_EQ(log.done, 0);
  EXPECT_TRUE(FreeLibrary(fmifs));
  EXPECT_EQ(GetModuleHandle("fmifs.dll"), nullptr);
  g_serviceLog = nullptr;

  config.system.formatService = false;
  Make(config);
  EXPECT_EQ(LoadLibrary("fmifs.dll"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorModNotFound);
}

}  // namespace
