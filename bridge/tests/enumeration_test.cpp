// The storage scan against the bench: which interfaces are taken, the port
// probe and IDENTIFY cache, parents, the drive-letter split and its bounds,
// the CD-ROM scan after the disks, and the text helpers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bridge/chip_identification.h"
#include "bridge/storage_enumeration.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/tests/usb_bench_fixture.h"
#include "bridge/vendor_commands.h"

namespace bridge::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// An ATA IDENTIFY string: words with their bytes swapped, trailing spaces cut.
std::string AtaText(const uint8_t* identify, size_t firstWord, size_t words) {
  std::string text;
  for (size_t w = firstWord; w < firstWord + words; ++w) {
    text += static_cast<char>(identify[2 * w + 1]);
    text += static_cast<char>(identify[2 * w]);
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}
std::string Model(const uint8_t* identify) { return AtaText(identify, 27, 20); }

constexpr char kMixedBench[] = R"(
[system]
windows_drive = C
system_disk = 1
network = Z

[hub root]
ports = 8

[product plain]
chip = 4
serial = PLAIN0001
letters = E
disk.model = PLAIN DISK

[product twin]
chip = 1
serial = TWIN0001
letters = FG
disk.model = TWIN MASTER
disk2 = 1
disk2.model = TWIN SLAVE
disk2.letters = H

[product uas]
chip = 25
serial = UAS00001
uas = 1
letters = I

[product optical]
chip = 1
serial = ODD00001
cdrom = 1
letters = J

[device mouse]
serial = MOUSE001
)";

class EnumerationTest : public UsbBenchTest {
 protected:
  void SetUp() override { Load(kMixedBench); }
};

TEST_F(EnumerationTest, TakesUsbstorAndScsiDisksAndMarksTheUasOne) {
  Scan();
  const StorageDeviceEntry* plain = EntryOf("plain");
  const StorageDeviceEntry* twin = EntryOf("twin");
  const StorageDeviceEntry* uas = EntryOf("uas");
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(twin, nullptr);
  ASSERT_NE(uas, nullptr);
  EXPECT_EQ(plain->isScsi, 0);
  EXPECT_EQ(twin->isScsi, 0);
  EXPECT_EQ(uas->isScsi, 1);
  EXPECT_THAT(Lower(DevicePath(*uas)), HasSubstr("scsi"));
  // The CD-ROM is not a disk interface; the system disk is a "scsi" one.
  EXPECT_EQ(EntryOf("optical"), nullptr);
  EXPECT_EQ(count_, 4);
}

TEST_F(EnumerationTest, ProbesThePortsAndCachesEachDrivesIdentify) {
  Scan();
  const StorageDeviceEntry* plain = EntryOf("plain");
  const StorageDeviceEntry* twin = EntryOf("twin");
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(twin, nullptr);
  EXPECT_EQ(plain->port0Present, 1);
  EXPECT_EQ(plain->port1Present, 0);
  EXPECT_EQ(Model(plain->identify[0]), "PLAIN DISK");
  EXPECT_EQ(twin->port0Present, 1);
  EXPECT_EQ(twin->port1Present, 1);
  EXPECT_EQ(twin->port0Atapi, 0);
  EXPECT_EQ(Model(twin->identify[0]), "TWIN MASTER");
  EXPECT_EQ(Model(twin->identify[1]), "TWIN SLAVE");
}

TEST_F(EnumerationTest, GivesEachDiskItsUsbParentAndDeviceNodes) {
  Scan();
  for (const char* name : {"plain", "twin", "uas"}) {
    const StorageDeviceEntry* entry = EntryOf(name);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(std::string(entry->parentId), Lower(bench_->FindByName(name)->usbInstanceId())) << name;
    EXPECT_NE(entry->devInst, 0u) << name;
    EXPECT_NE(entry->parentDevInst, 0u) << name;
    EXPECT_EQ(entry->deviceNumber.DeviceNumber, bench_->FindByName(name)->deviceNumber()) << name;
  }
}

TEST_F(EnumerationTest, SplitsTheLettersOfATwoDriveBridgeByIdentifyData) {
  Scan();
  const StorageDeviceEntry* plain = EntryOf("plain");
  const StorageDeviceEntry* twin = EntryOf("twin");
  const StorageDeviceEntry* uas = EntryOf("uas");
  ASSERT_NE(twin, nullptr);
  EXPECT_STREQ(plain->port0Letters, "E");
  EXPECT_STREQ(plain->port1Letters, "");
  EXPECT_STREQ(uas->port0Letters, "I");
  EXPECT_STREQ(twin->port0Letters, "FG");
  EXPECT_STREQ(twin->port1Letters, "H");
}

// On a two-drive bridge each port's try is the IDENTIFY, then SMART RETURN
// STATUS, whatever the IDENTIFY answered.
TEST_F(EnumerationTest, EachPortTrySendsSmartReturnStatusAfterItsIdentifyEvenWhenItFails) {
  Scan();
  const std::vector<uint8_t> identifyMaster = {0xDF, 0x10, 0x00, 0x02, 0x00, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0xA0, 0xEC};
  const std::vector<uint8_t> smart = {0xDF, 0x10, 0x00, 0x00, 0x01, 0xDA,
                                      0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0};
  sim::Product& twin = *bench_->FindByName("twin");
  twin.AddFault(Always(sim::Fault::Kind::CheckCondition, identifyMaster));
  twin.EnableTrace(true);
  AssignDriveLetters(entries_.data(), count_);
  const auto trace = twin.TakeTrace();
  int failedIdentifies = 0;
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].cdb != identifyMaster) continue;
    ++failedIdentifies;
    ASSERT_LT(i + 1, trace.size());
    EXPECT_EQ(trace[i + 1].cdb, smart) << "command " << i + 1;
  }
  EXPECT_EQ(failedIdentifies, 3);  // one per letter F, G, H
}

TEST_F(EnumerationTest, ABridgeWhoseOnlyDriveIsOnPortOneGetsItsLettersThere) {
  Load(R"(
[product slaveonly]
chip = 1
serial = SLAVE001
disk = 0
disk2 = 1
disk2.letters = K
letters = -
)");
  Scan();
  const StorageDeviceEntry* entry = EntryOf("slaveonly");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->port0Present, 0);
  EXPECT_EQ(entry->port1Present, 1);
  EXPECT_STREQ(entry->port0Letters, "");
  EXPECT_STREQ(entry->port1Letters, "K");
}

TEST_F(EnumerationTest, NeverGivesTheWindowsDriveOrANetworkDriveToAnEntry) {
  Scan();
  for (int e = 0; e < count_; ++e) {
    const StorageDeviceEntry& entry = entries_[static_cast<size_t>(e)];
    for (const char* letters : {entry.port0Letters, entry.port1Letters}) {
      EXPECT_THAT(std::string(letters), Not(HasSubstr("C"))) << DevicePath(entry);
      EXPECT_THAT(std::string(letters), Not(HasSubstr("Z"))) << DevicePath(entry);
    }
  }
}

TEST_F(EnumerationTest, ADriveArrivingDuringTheLetterPassStartsItOverWithEmptyFields) {
  Scan();
  sim::Product& plain = *bench_->FindByName("plain");
  const uint32_t before = plain.Letters(0);
  const int base = bench_->DriveQueryCount();
  // Drive K arrives on the plain product after the pass noted the drive set.
  bench_->SetDriveQueryHook([&](int query) {
    if (query == base + 2) plain.SetLetters(0, before | (1u << ('K' - 'A')));
  });
  AssignDriveLetters(entries_.data(), count_);
  bench_->SetDriveQueryHook(nullptr);
  EXPECT_STREQ(EntryOf("plain")->port0Letters, "EK");
  EXPECT_THAT(std::string(EntryOf("twin")->port0Letters), Not(HasSubstr("FGF")));
  EXPECT_EQ(std::string(EntryOf("twin")->port0Letters).size() +
                std::string(EntryOf("twin")->port1Letters).size(),
            3u);
}

TEST_F(EnumerationTest, ADriveSetThatNeverSettlesEndsThePassAtItsBound) {
  Scan();
  sim::Product& plain = *bench_->FindByName("plain");
  const uint32_t base = plain.Letters(0);
  const int first = bench_->DriveQueryCount();
  // Every query sees a drive set it has not seen before (letters K..Y count).
  bench_->SetDriveQueryHook([&](int query) {
    plain.SetLetters(0, base | ((static_cast<uint32_t>(query) & 0x7FFF) << ('K' - 'A')));
  });
  AssignDriveLetters(entries_.data(), count_);
  bench_->SetDriveQueryHook(nullptr);
  // One drive-set query and at most one query per letter in each pass.
  EXPECT_LE(bench_->DriveQueryCount() - first, kMaxDriveLetterPasses * (26 + 1) + 1);
  EXPECT_EQ(std::string(EntryOf("plain")->port0Letters).substr(0, 1), "E");
  EXPECT_LE(std::string(EntryOf("plain")->port0Letters).size(), 7u);
}

TEST_F(EnumerationTest, TheCdromScanAppendsAfterTheDisksWithoutDoublingTheirLetters) {
  Scan();
  const int disks = count_;
  int count = disks;
  ASSERT_EQ(EnumerateCdromDevices(entries_.data(), kMaxStorageEntries, disks, &count), 1);
  EXPECT_EQ(count, disks + 1);
  const StorageDeviceEntry& optical = entries_[static_cast<size_t>(disks)];
  EXPECT_EQ(Lower(DevicePath(optical)), Lower(bench_->FindByName("optical")->path()));
  EXPECT_EQ(std::string(optical.parentId), Lower(bench_->FindByName("optical")->usbInstanceId()));
  EXPECT_EQ(optical.port0Present, 0);  // no probe for CD-ROM entries
  // The letter pass ran again over every entry: nothing doubled.
  const StorageDeviceEntry& twin = *EntryOf("twin");
  EXPECT_EQ(std::string(twin.port0Letters) + twin.port1Letters, "FGH");
  EXPECT_STREQ(EntryOf("plain")->port0Letters, "E");
  EXPECT_STREQ(EntryOf("uas")->port0Letters, "I");
}

TEST_F(EnumerationTest, TheCdromScanNeverWritesPastTheArray) {
  Scan();
  int count = kMaxStorageEntries;
  ASSERT_EQ(EnumerateCdromDevices(entries_.data(), kMaxStorageEntries, kMaxStorageEntries, &count), 1);
  EXPECT_EQ(count, kMaxStorageEntries);
}

TEST_F(EnumerationTest, ACapacityBelowTheInterfaceCountTakesOnlyThatMany) {
  int count = 2;
  ASSERT_EQ(EnumerateStorageDevices(entries_.data(), &count), 1);
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(DevicePath(entries_[2]), "");
}

TEST_F(EnumerationTest, ANullCountIsRefused) {
  EXPECT_EQ(EnumerateStorageDevices(entries_.data(), nullptr), 0);
}

TEST_F(EnumerationTest, ScansFromTwoThreadsAtOnceBothFinishWithTheSameResult) {
  std::vector<StorageDeviceEntry> other(kMaxStorageEntries);
  int otherCount = kMaxStorageEntries;
  int otherResult = 0;
  std::thread second([&] { otherResult = EnumerateStorageDevices(other.data(), &otherCount); });
  Scan();
  second.join();
  EXPECT_EQ(otherResult, 1);
  ASSERT_EQ(otherCount, count_);
  for (int e = 0; e < count_; ++e) {
    EXPECT_STREQ(DevicePath(other[static_cast<size_t>(e)]), DevicePath(entries_[static_cast<size_t>(e)]));
    EXPECT_STREQ(other[static_cast<size_t>(e)].port0Letters, entries_[static_cast<size_t>(e)].port0Letters);
  }
}

TEST_F(EnumerationTest, IdentifyDeviceReturnsThePortOneDriveWhenBothHaveDrives) {
  uint8_t identify[kIdentifyDataSize] = {};
  const std::string twin = bench_->FindByName("twin")->path();
  ASSERT_EQ(IdentifyDevice(twin.c_str(), identify, 0), 1);
  EXPECT_EQ(Model(identify), "TWIN SLAVE");
  ASSERT_EQ(IdentifyDevice(bench_->FindByName("plain")->path().c_str(), identify, 0), 1);
  EXPECT_EQ(Model(identify), "PLAIN DISK");
}

TEST_F(EnumerationTest, IdentifyDeviceBySatForTheSatFamilies) {
  uint8_t identify[kIdentifyDataSize] = {};
  const std::string uas = bench_->FindByName("uas")->path();
  ASSERT_TRUE(UsesSatIdentify(25));
  ASSERT_EQ(IdentifyDevice(uas.c_str(), identify, 1), 1);
  EXPECT_EQ(Model(identify), bench_->FindByName("uas")->config().disk.model);
}

class LetterLimitTest : public UsbBenchTest {};

TEST_F(LetterLimitTest, APortHoldsSevenLettersAndTheRestAreIgnored) {
  Load(R"(
[product many]
chip = 4
serial = MANY0001
letters = DEFGHIJKL
)");
  Scan();
  ASSERT_NE(EntryOf("many"), nullptr);
  EXPECT_STREQ(EntryOf("many")->port0Letters, "DEFGHIJ");
}

TEST_F(LetterLimitTest, APathLongerThanItsFieldIsSkippedAndTheOthersAreTaken) {
  const std::string longPath = "\\\\?\\usbstor#disk&ven_kv&prod_long#" + std::string(280, 'x') +
                               "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  Load("[product longpath]\nchip = 4\nserial = LONG0001\npath = " + longPath +
       "\n[product fits]\nchip = 4\nserial = FITS0001\n");
  Scan();
  EXPECT_EQ(count_, 1);
  EXPECT_NE(EntryOf("fits"), nullptr);
}

TEST_F(LetterLimitTest, AParentIdLongerThanItsFieldIsLeftEmptyNotCut) {
  Load("[product longid]\nchip = 4\nserial = " + std::string(120, 'L') + "\n");
  Scan();
  ASSERT_NE(EntryOf("longid"), nullptr);
  ASSERT_GE(bench_->FindByName("longid")->usbInstanceId().size(), sizeof StorageDeviceEntry::parentId);
  EXPECT_STREQ(EntryOf("longid")->parentId, "");
}

TEST(ContainsTextTest, FindsThePartAnywhereWithoutRegardToCase) {
  struct Case {
    const char* text;
    const char* part;
    int expected;
  };
  const Case cases[] = {
      {"\\\\?\\usbstor#disk&ven_kv", "USBSTOR", 1},
      {"\\\\?\\USBSTOR#DISK", "usbstor", 1},
      {"\\\\?\\scsi#disk&ven_kv", "scsi", 1},
      {"\\\\?\\usbstor#disk", "scsi", 0},
      {"abc", "abcd", 0},
      {"abc", "c", 1},
      {"", "a", 0},
      {nullptr, "a", 0},
      {"a", nullptr, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ContainsText(c.text, c.part), c.expected)
        << (c.text ? c.text : "(null)") << " / " << (c.part ? c.part : "(null)");
  }
}

}  // namespace
}  // namespace bridge::testing
