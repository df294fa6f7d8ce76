// Passes of the second program without a window, against a library in the
// test's hands: who gets a worker, what a device without one shows, the
// UFS notices, the log rows, and workers that must tell identical products
// apart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_queue.h"
#include "platform/threads.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/tests/fake_device_library.h"
#include "sdkstation/tests/sdk_fixture.h"
#include "station/station_messages.h"
#include "station/tests/csv_reader.h"

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

  // ---- The host.
  void BeginWait(bool devicesAttached) override { waitShown_ = devicesAttached; }
  SdkPassControls Controls() override { return controls_; }
  void WaitUntil(const std::function<bool()>& done) override {
    while (!done()) {
      queue_->Wait();
      queue_->Dispatch();
    }
  }
  void EndWait() override {}
  void ShowResult(bool allPass) override { results_.push_back(allPass); }
  void SafeRemoveAll() override { ++removals_; }

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
  bool waitShown_ = false;
  std::vector<bool> results_;
  int removals_ = 0;
};

TEST_F(SdkPass, NothingAttached) {
  const SdkPassSummary summary = RunPass();
  EXPECT_TRUE(summary.allPass);
  EXPECT_EQ(summary.started, 0);
  EXPECT_FALSE(waitShown_);
  EXPECT_THAT(results_, IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(dayLog_.path));
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
