// Finding devices again after their reset through a library in the test's
// hands: by hub location and by serial, the meetings, the traces.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "sdkstation/device_relink.h"
#include "sdkstation/tests/fake_device_library.h"
#include "sdkstation/tests/sdk_fixture.h"

namespace sdkstation {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class SdkRelink : public ::testing::Test {
 public:
  SdkRelink() { settings_.MPResetWait = 5; }

  // Products on ports 1.. of one hub, every record holding its listed path.
  void Attach(std::vector<testing::FakeProduct> products) {
    for (auto& p : products) {
      p.hubPort = static_cast<int>(lib_.products.size()) + 1;
      p.tableIndex = static_cast<int>(lib_.products.size());
      const size_t i = lib_.Add(p);
      SdkPortRecord& r = pass_.ports[i];
      std::snprintf(r.devicePath, kSdkPathSize, "%s", lib_.PathOf(i).c_str());
      r.hubPort = p.hubPort;
      std::snprintf(r.rootHubName, kSdkPathSize, "%s", p.rootHub.c_str());
      r.qvs87x = p.qvs87x ? 1 : 0;
    }
    meeting_.Reset(static_cast<int32_t>(products.size()));
  }

  RelinkContext Context(int port, StageCounter& stages, const char* serial = "") {
    return {pass_.ports, port, settings_, locks_, meeting_, stages, serial};
  }
  std::string PathIn(int port) const { return pass_.ports[static_cast<size_t>(port)].devicePath; }

  platform::ScopedManualClock clock_;
  testing::FakeDeviceLibrary lib_;
  SdkPassState pass_;
  SdkSettingsBlock settings_ = ZeroedSdkSettingsBlock();
  SdkLocks locks_;
  RelinkMeeting meeting_;
};

TEST_F(SdkRelink, IdenticalSerialsEachWorkerKeepsItsOwnProduct) {
  // Auto-increment off: four products come back with one serial. Each
  // worker must end on the product at its own hub port, whatever order the
  // workers search in.
  Attach({{.serial = "0042"}, {.serial = "0042"}, {.serial = "0042"}, {.serial = "0042"}});
  for (const bool byNewSerial : {true, false}) {
    SCOPED_TRACE(byNewSerial);
    meeting_.Reset(4);
    std::vector<std::unique_ptr<StageCounter>> stages;
    std::vector<std::thread> workers;
    std::array<bool, 4> found{};
    for (int port = 0; port < 4; ++port) stages.push_back(std::make_unique<StageCounter>(meeting_, locks_.RelinkStageLock));
    // From the last port to the first: the first listed match must not win.
    for (int port = 3; port >= 0; --port)
      workers.emplace_back([&, port] {
        found[static_cast<size_t>(port)] = QV_RelinkEx(Context(port, *stages[static_cast<size_t>(port)], "0042"),
                                                       kStageIdentity, byNewSerial);
      });
    for (auto& w : workers) w.join();
    for (int port = 0; port < 4; ++port) {
      EXPECT_TRUE(found[static_cast<size_t>(port)]) << port;
      EXPECT_EQ(PathIn(port), lib_.PathOf(static_cast<size_t>(port))) << port;
      EXPECT_EQ(lib_.TablePaths()[port], lib_.PathOf(static_cast<size_t>(port))) << port;
    }
  }
}

TEST_F(SdkRelink, AnEmptySerialMatchesNothing) {
  // No serial to find it by: the device is not reset at all (it could not be
  // told from the others afterwards), and the stage is counted all the same.
  Attach({{.serial = "0042"}});
  StageCounter stages(meeting_, locks_.RelinkStageLock);
  EXPECT_FALSE(QV_RelinkEx(Context(0, stages, ""), kStageIdentity, true));
  EXPECT_EQ(lib_.CallCount("QV_ChipReset"), 0);
  EXPECT_EQ(lib_.Product(0).resets, 0);
  EXPECT_EQ(meeting_.Count(kStageIdentity), 1);
  EXPECT_EQ(lib_.CallCount("QV_GetDeviceList"), 0);
  EXPECT_EQ(lib_.CallCount("QV_SetDevicePath"), 0);
}

TEST_F(SdkRelink, NoWaitAllowedMakesNoSearch) {
  Attach({{.serial = "0042"}});
  settings_.MPResetWait = 0;
  StageCounter stages(meeting_, locks_.RelinkStageLock);
  EXPECT_FALSE(QV_RelinkEx(Context(0, stages, "0042"), kStageIdentity, true));
  EXPECT_FALSE(ResetAndRefindDevice(Context(0, stages), kStageErase));
  EXPECT_FALSE(RefindDevice(Context(0, stages), 0));
  EXPECT_EQ(lib_.CallCount("QV_GetDeviceList"), 0);
}

TEST_F(SdkRelink, FirmwareActivationTries) {
  // Up to 20 activations: the 20th may still succeed; 20 failures fail
  // before any search, and the stage is counted either way.
  struct Case {
    int failures;
    bool found;
  };
  for (const Case c : {Case{19, true}, Case{20, false}}) {
    SCOPED_TRACE(c.failures);
    testing::FakeDeviceLibrary lib;
    lib.Add({.serial = "1"});
    SdkPortTable ports;
    std::snprintf(ports[0].devicePath, kSdkPathSize, "%s", lib.PathOf(0).c_str());
    meeting_.Reset(1);
    lib.Fail("QV_ActiveFirmware", c.failures);
    StageCounter stages(meeting_, locks_.RelinkStageLock);
    const RelinkContext context{ports, 0, settings_, locks_, meeting_, stages, ""};
    EXPECT_EQ(ResetAndRefindDevice(context, kStageFirmware), c.found);
    EXPECT_EQ(lib.CallCount("QV_ActiveFirmware"), std::min(c.failures + 1, 20));
    EXPECT_EQ(meeting_.Count(kStageFirmware), 1);
    EXPECT_EQ(lib.CallCount("QV_GetDeviceList") > 0, c.found);
  }
}

TEST_F(SdkRelink, AMeetingEndsWhenTheLastWorkerCounted) {
  // Two workers; the first fails its activation and still counts, so the
  // second finds everyone counted and searches at once instead of waiting
  // out its 100 s.
  Attach({{.serial = "A"}, {.serial = "B"}});
  StageCounter first(meeting_, locks_.RelinkStageLock);
  StageCounter second(meeting_, locks_.RelinkStageLock);
  lib_.Fail("QV_ActiveFirmware", 20);
  EXPECT_FALSE(ResetAndRefindDevice(Context(0, first), kStageFirmware));
  const uint64_t before = platform::GetTickCount64();
  EXPECT_TRUE(ResetAndRefindDevice(Context(1, second), kStageFirmware));
  // The wait before and after the activation and one scan: no meeting steps.
  EXPECT_LE(platform::GetTickCount64() - before, 2000U);
  EXPECT_EQ(PathIn(1), lib_.PathOf(1));

  // A worker that leaves early counts every stage it skipped.
  StageCounter leaving(meeting_, locks_.RelinkStageLock);
  leaving.Count(kStageErase);
  leaving.CountRemaining();
  EXPECT_EQ(meeting_.Count(kStageErase), 1);
  EXPECT_EQ(meeting_.Count(kStageIdentity), 1);
  EXPECT_EQ(meeting_.Count(kStageUfs), 1);
  EXPECT_EQ(meeting_.Count(kStageSkipped), 0);
}

// A relink after a firmware-only, erase-only or UFS step follows no identity
// hand-over, so the device has no setting-table entry; it is good all the
// same and must be found again, not failed at the index query.
TEST_F(SdkRelink, NoTableEntryFailsNoRelinkForRelinksWithoutAnIdentityHandOver) {
  Attach({{.serial = "77"}});
  lib_.products[0].tableIndex = -1;
  testing::DebugLines traces;
  StageCounter stages(meeting_, locks_.RelinkStageLock);
  EXPECT_TRUE(QV_RelinkEx(Context(0, stages, "77"), kStageIdentity, true));
  EXPECT_EQ(PathIn(0), lib_.PathOf(0));
  EXPECT_EQ(lib_.CallCount("QV_SetDevicePath"), 0);
  const auto lines = traces.Take("RD Debug: ");
  EXPECT_EQ(lines.front(), kRelinkEnterTrace);
  EXPECT_THAT(lines, Contains(kNoTableIndexTrace));
  EXPECT_THAT(lines, Contains("RD Debug: m_UpdateSN[0]=77, serialNumber=77"));
  EXPECT_EQ(lines.back(), "RD Debug: QV_RelinkEx exit(bFail=0)");
}

TEST_F(SdkRelink, OldSerialAndHubLocation) {
  // By the old serial: the serial read before the reset is the key; a read
  // that fails ends the relink before the reset.
  Attach({{.serial = "SN-1"}, {.serial = "SN-2", .qvs87x = true}});
  StageCounter first(meeting_, locks_.RelinkStageLock);
  StageCounter second(meeting_, locks_.RelinkStageLock);
  EXPECT_TRUE(QV_RelinkEx(Context(1, second), kStageFirmware, false));
  EXPECT_THAT(lib_.Calls(1), Contains("QV_GetSNfromOS"));
  EXPECT_EQ(PathIn(1), lib_.PathOf(1));
  lib_.Fail("QV_GetSNfromFlash");
  EXPECT_FALSE(QV_RelinkEx(Context(0, first), kStageFirmware, false));
  EXPECT_EQ(lib_.Product(0).resets, 0);

  // By hub location, without a reset: the record's own hub port.
  EXPECT_TRUE(RefindDevice(Context(0, first), 9));
  EXPECT_EQ(lib_.TablePaths()[9], lib_.PathOf(0));
  // A product that never comes back fails its relink.
  lib_.products[0].comesBack = false;
  EXPECT_FALSE(ResetAndRefindDevice(Context(0, first), kStageErase));
}

}  // namespace
}  // namespace sdkstation
