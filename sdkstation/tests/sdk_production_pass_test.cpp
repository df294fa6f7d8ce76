// Passes of the second program without a window, against a library in the
// test's hands: who gets a worker, what a device without one shows, the
// UFS notices, the log rows, and workers that must tell identical products
// apart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_queue.h"
#include "platform/threads.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/tests/fake_device_library.h"
#include "sdkstation/tests/sdk_fixture.h"
#include "station/station_messages.h"
#include "station/tests/configparser_reader.h"
#include "station/tests/csv_reader.h"
#include "station/tests/file_size_limit.h"

namespace sdkstation {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class SdkPass : public testing::SdkTest, public SdkPassHost {
 public:
  SdkPass() {
    Bench("");
    settings_.MPResetWait = 3;
    settings_.PerfShift = 1;
    std::filesystem::create_directories(Path("log"));
    dayLog_.name = station::MakeDayLogName(Path("log"), 2024, 1, 31);
    dayLog_.path = dayLog_.name.Path(0);
    threads_.fill(platform::kInvalidHandle);
  }

  void Attach(int count, testing::FakeProduct product = {}) {
    for (int n = 0; n < count; ++n) {
      product.hubPort = static_cast<int>(lib_.products.size()) + 1;
      product.tableIndex = static_cast<int>(lib_.products.size());
      const size_t i = lib_.Add(product);
      SdkPortRecord& r = pass_.ports[i];
      std::snprintf(r.devicePath, kSdkPathSize, "%s", lib_.PathOf(i).c_str());
      r.hubPort = product.hubPort;
      std::snprintf(r.rootHubName, kSdkPathSize, "%s", product.rootHub.c_str());
      r.qvs87x = product.qvs87x;
      r.RunningCodeMode = product.runningMode;
      std::snprintf(pass_.m_UpdateSN[i].data(), kUpdateSnSize, "%s", product.serial.c_str());
      pass_.identityHandedOver[i] = 1;
    }
  }

  SdkPassSummary RunPass() {
    SdkStationPass station{pass_,    locks_,   settings_,          static_cast<int32_t>(lib_.products.size()),
                           dayLog_,  passEvent_, run_,              patterns_,
                           [q = queue_] { q->Post(station::kWmPortUpdate); }, threads_, Path("Kestrova.ini"),
                           nextSerial_};
    settings_.TotalTestCount += static_cast<int32_t>(lib_.products.size());
    return RunProductionPass(station, *this);
  }
  const SdkPortRecord& Record(size_t i) const { return pass_.ports[i]; }
  // `count` devices whose identity update gives each a serial from `first`
  // on; the window has the pass keep `next`.
  void GiveSerials(int count, const char* first, const char* next = "") {
    Attach(count);
    settings_.EnEEPROMUpdate = 1;
    settings_.String3Inc = 1;
    SetFieldText(settings_.String3, first);
    nextSerial_ = next;
  }

  // ---- The host.
  void BeginWait(bool devicesAttached) override { waitShown_ = devicesAttached; }
  SdkPassControls Controls() override { return controls_; }
  void WaitUntil(const std::function<bool()>& done) override {
    if (onWaitBegins_) onWaitBegins_();
    while (!done()) {
      queue_->Wait();
      queue_->Dispatch();
    }
  }
  void EndWait() override {
    if (onWaitEnds_) onWaitEnds_();
  }
  void ShowResult(bool allPass) override { results_.push_back(allPass); }
  void SafeRemoveAll(const std::vector<std::string>& devicePaths) override { removals_.push_back(devicePaths); }

  testing::FakeDeviceLibrary lib_;
  SdkPassState pass_;
  SdkLocks locks_;
  SdkSettingsBlock settings_ = ZeroedSdkSettingsBlock();
  station::DayLog dayLog_;
  platform::ManualResetEvent passEvent_{false};
  SdkRun run_;
  station::PatternPages patterns_;
  std::shared_ptr<platform::MessageQueue> queue_ = std::make_shared<platform::MessageQueue>();
  std::array<platform::Handle, kSdkPortCount> threads_{};
  SdkPassControls controls_;
  std::string nextSerial_;  // the number the window hands the pass to keep
  // Run, when set, as the workers have started and as they have ended.
  std::function<void()> onWaitBegins_, onWaitEnds_;
  bool waitShown_ = false;
  std::vector<bool> results_;
  std::vector<std::vector<std::string>> removals_;
};

TEST_F(SdkPass, NothingAttachedEndsAsEveryPassDoes) {
  // No worker and no animation, but the pass event is set, the day log is
  // opened (its header, no row) and the pass is reported.
  pass_.options.MPSafeRemove = 1;
  const SdkPassSummary summary = RunPass();
  EXPECT_TRUE(summary.allPass);
  EXPECT_EQ(summary.started, 0);
  EXPECT_FALSE(waitShown_);
  EXPECT_TRUE(passEvent_.IsSet());
  EXPECT_THAT(results_, ElementsAre(true));
  EXPECT_TRUE(summary.logged);
  const auto rows = station::testing::ReadTabRowsWithPython(dayLog_.path, folder_);
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(rows[0][0], "No.   ");
  EXPECT_THAT(removals_, ElementsAre(IsEmpty()));
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(SdkPass, EachDevicesOwnSerialAgainstTheMaximum) {
  // Two devices, the base at the maximum: device 0 gets the maximum, device
  // 1 would get one more and starts no worker.
  Attach(2);
  settings_.EnEEPROMUpdate = 1;
  settings_.CheckMaxSn = 1;
  settings_.String3Inc = 1;
  SetFieldText(settings_.String3, "00FF");
  SetFieldText(settings_.StringMaxSn, "00FF");
  // Last pass both passed.
  for (size_t i = 0; i < 2; ++i) pass_.ports[i].result = 1;
  const SdkPassSummary summary = RunPass();
  EXPECT_EQ(summary.started, 1);
  EXPECT_FALSE(summary.allPass);
  EXPECT_EQ(Record(0).result, 1);
  EXPECT_EQ(Record(1).identityStatus, -1);
  EXPECT_EQ(Record(1).result, -1);
  EXPECT_THAT(Messages(), ElementsAre(kMaxSerialReached));
  EXPECT_THAT(results_, ElementsAre(false));

  // Without auto-increment both get the base, which is allowed.
  settings_.String3Inc = 0;
  EXPECT_EQ(RunPass().started, 2);
}

// The number the next run starts from is in the settings file before any
// device holds one, and the yield in its file before the result shows.
TEST_F(SdkPass, TheNextSerialAndTheYieldReachTheirFilesBeforeTheDevicesLeave) {
  GiveSerials(3, "0101", "0104");
  WriteFile("Kestrova.ini", "[setting]\r\nSCSITimeout=12\r\n[QVEEPROM]\r\nString3=0101\r\n");
  station::testing::IniEntries whileWorking;
  onWaitBegins_ = [&] { whileWorking = station::testing::ReadIniWithPython(Path("Kestrova.ini"), folder_); };
  const SdkPassSummary summary = RunPass();
  EXPECT_EQ(summary.started, 3);
  EXPECT_TRUE(summary.kept);
  EXPECT_EQ((whileWorking[{"QVEEPROM", "String3"}]), "0104");
  EXPECT_EQ((whileWorking[{"setting", "SCSITimeout"}]), "12");
  const auto yield = station::testing::ReadIniWithPython(Path("log/QV4164x.log"), folder_);
  EXPECT_EQ((yield.at({"TestRecord", "TotalTestCount"})), "3");
}

// A settings file that cannot keep the next number holds the pass before
// any device is touched; a yield file that cannot keep the yield holds the
// next one.
TEST_F(SdkPass, AStationThatCannotKeepItsNumbersStartsNoWorker) {
  GiveSerials(2, "0101", "0103");
  WriteFile("Kestrova.ini", "");
  ASSERT_EQ(::chmod(Path("Kestrova.ini").c_str(), 0444), 0);
  SdkPassSummary summary = RunPass();
  EXPECT_EQ(summary.started, 0);
  EXPECT_TRUE(summary.refused);
  EXPECT_FALSE(summary.kept);
  EXPECT_THAT(Messages(), ElementsAre("Unable to write to " + Path("Kestrova.ini") +
                                      "\nThe next serial number cannot be kept there, so no test starts until it can."));
  EXPECT_THAT(lib_.AllCalls(), IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(dayLog_.path));

  ASSERT_EQ(::chmod(Path("Kestrova.ini").c_str(), 0644), 0);
  std::filesystem::create_directory(Path("log/QV4164x.log"));
  boxes_.clear();
  summary = RunPass();
  EXPECT_EQ(summary.started, 2);
  EXPECT_FALSE(summary.refused);
  EXPECT_FALSE(summary.kept);
  const std::string yieldBox = "Unable to write to " + Path("log/QV4164x.log") +
                               "\nThe yield cannot be kept there, so no test starts until it can.";
  EXPECT_THAT(Messages(), ElementsAre(yieldBox));
  summary = RunPass();
  EXPECT_EQ(summary.started, 0);
  EXPECT_TRUE(summary.refused);
  EXPECT_THAT(Messages(), ElementsAre(yieldBox, yieldBox));
}

// Past FFFF the number would start again at ones given out before: the
// device that would get it starts no worker, as at the maximum.
TEST_F(SdkPass, TheSerialStopsAtItsLastValue) {
  GiveSerials(3, "FFFE");
  const SdkPassSummary summary = RunPass();
  EXPECT_EQ(summary.started, 1);
  EXPECT_EQ(Record(1).identityStatus, -1);
  EXPECT_THAT(Messages(), ElementsAre(kMaxSerialReached));
}

// The disk fills while the rows are written: the operator is told as of a
// log that cannot be opened, the pass shows as failed, and the file keeps
// no part of a row.
TEST_F(SdkPass, AFullDiskUnderTheResultLogFailsThePassAndLeavesNoTornRow) {
  Attach(2);
  ASSERT_TRUE(RunPass().allPass);
  const std::string before = testing::Slurp(dayLog_.path);
  results_.clear();
  SdkPassSummary summary;
  {
    station::testing::FileSizeLimit disk;
    onWaitEnds_ = [&] { disk.Apply(before.size() + 100); };
    summary = RunPass();
    onWaitEnds_ = nullptr;
  }
  EXPECT_FALSE(summary.logged);
  EXPECT_FALSE(summary.allPass);
  EXPECT_THAT(Messages(), ElementsAre(kLogOpenFailed));
  EXPECT_THAT(results_, ElementsAre(false));
  EXPECT_EQ(testing::Slurp(dayLog_.path), before);
  ASSERT_TRUE(RunPass().logged);
  const auto rows = station::testing::ReadTabRowsWithPython(dayLog_.path, folder_);
  ASSERT_EQ(rows.size(), 5U);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].size(), 22U) << i;
}

TEST_F(SdkPass, ADeviceWithoutAWorkerNeverKeepsLastPassesResult) {
  Attach(3);
  for (size_t i = 0; i < 3; ++i) {
    pass_.ports[i].result = 1;
    pass_.ports[i].firmwareStatus = 1;
  }
  settings_.EnEEPROMUpdate = 1;
  settings_.CheckMaxSn = 1;
  SetFieldText(settings_.String3, "0100");
  SetFieldText(settings_.StringMaxSn, "00FF");
  platform::ScopedThreadStartFailures refused(0);
  const SdkPassSummary summary = RunPass();
  EXPECT_EQ(summary.started, 0);
  EXPECT_EQ(Record(0).result, -1);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(Record(i).result, 0) << i;
    EXPECT_EQ(Record(i).firmwareStatus, 0) << i;
  }
  const auto rows = station::testing::ReadTabRowsWithPython(dayLog_.path, folder_);
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(rows[1][21], "Fail");
  EXPECT_EQ(rows[2][21], "----");
  EXPECT_EQ(rows[3][21], "----");
}

TEST_F(SdkPass, AWorkerThatCannotStartFailsAndIsNotWaitedFor) {
  Attach(2);
  settings_.MPPortReset = 1;
  settings_.EnEEPROMUpdate = 1;
  const SdkPassSummary summary = [&] {
    platform::ScopedThreadStartFailures refused(1);
    return RunPass();
  }();
  EXPECT_EQ(summary.started, 1);
  EXPECT_EQ(Record(0).result, -1);
  EXPECT_EQ(Record(0).finalResult, -1);
  // The other worker relinked (stage 2) without waiting for the one that
  // never ran.
  EXPECT_EQ(Record(1).relinkStatus, 1);
  EXPECT_EQ(Record(1).result, 1);
  EXPECT_EQ(run_.meeting.workers.load(), 1);
}

TEST_F(SdkPass, UfsNotices) {
  Attach(1);
  Attach(1, {.ufs = true, .ufsState = 0, .ufsEnablesAtOnce = true});
  Attach(1, {.ufs = true, .writeProtected = 1});
  const SdkPassSummary summary = RunPass();
  EXPECT_FALSE(summary.allPass);
  EXPECT_THAT(Messages(), ElementsAre("Port:3 UFS is write protect status!",
                                      "Port:2 UFS was Disabled!\nRIDoda enable it now!!"));
}

TEST_F(SdkPass, SoftwareImageSourceAndItsCount) {
  Attach(1);
  std::filesystem::create_directories(Path("image/sub"));
  WriteFile("image/a.bin", "a");
  WriteFile("image/sub/b.bin", "b");
  settings_.EnSWCopy = 1;
  settings_.EnFolderCompare = 1;
  controls_.softwareImagePath = Path("image/*.*");
  (void)RunPass();
  // A pattern keeps its folder part only.
  EXPECT_EQ(std::string(FieldText(settings_.SwImgPath)), Path("image/"));
  // The tree the workers compare: one folder and two files.
  EXPECT_EQ(settings_.FolderCount, 1);
  EXPECT_EQ(settings_.FileCount, 2);

  // A path that cannot take "\*.*" within its field is refused before any worker.
  const std::string deep = Path(std::string(250, 'd'));
  std::filesystem::create_directories(deep);
  controls_.softwareImagePath = deep;
  lib_.calls.clear();
  EXPECT_EQ(RunPass().started, 0);
  EXPECT_EQ(Messages().back(), kSoftwareImagePathInvalid);
}

TEST_F(SdkPass, SafeRemovalNamesThePathsTheDevicesCameBackUnder) {
  // Reset and relinked, every product has a new path; the removal after the
  // pass must name those, not the ones listed before the reset.
  Attach(3);
  pass_.options.MPSafeRemove = 1;
  settings_.MPPortReset = 1;
  settings_.EnEEPROMUpdate = 1;
  std::vector<std::string> listed;
  for (size_t i = 0; i < 3; ++i) listed.push_back(lib_.PathOf(i));
  EXPECT_TRUE(RunPass().allPass);
  std::vector<std::string> now;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(lib_.Product(i).resets, 1) << i;
    now.push_back(lib_.PathOf(i));
    EXPECT_NE(now.back(), listed[i]) << i;
  }
  EXPECT_THAT(removals_, ElementsAre(now));
}

TEST_F(SdkPass, IdenticalProductsEachKeepTheirOwn) {
  // Sixteen products with one serial (auto-increment off) reset and relink
  // together: each worker ends on the product at its own hub port.
  Attach(16, {.serial = "0042"});
  settings_.MPPortReset = 1;
  settings_.EnEEPROMUpdate = 1;
  settings_.EnFWUpdate = 1;
  const SdkPassSummary summary = RunPass();
  EXPECT_EQ(summary.started, 16);
  EXPECT_TRUE(summary.allPass);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(std::string(Record(i).devicePath), lib_.PathOf(i)) << i;
    EXPECT_EQ(lib_.Product(i).resets, 1) << i;
  }
  EXPECT_EQ(run_.meeting.Count(kStageFirmware), 16);
  const auto rows = station::testing::ReadTabRowsWithPython(dayLog_.path, folder_);
  ASSERT_EQ(rows.size(), 17U);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i][21], "Pass");
}

}  // namespace
}  // namespace sdkstation
