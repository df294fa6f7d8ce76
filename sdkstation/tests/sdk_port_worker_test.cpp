// One port worker of the second program against a library in the test's
// hands (the platform's side on an empty bench): the statuses each step
// leaves and the library calls it makes, mode by mode.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/tests/fake_backend.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "sdkstation/sdk_port_worker.h"
#include "sdkstation/tests/fake_device_library.h"
#include "sdkstation/tests/sdk_fixture.h"

namespace sdkstation {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::Not;

class SdkWorker : public testing::SdkTest {
 public:
  SdkWorker() {
    Bench("");
    s_.MPResetWait = 3;
    s_.PerfShift = 1;
    s_.RWDataSize = 8;
    s_.StandbyTimer = 15;
    SetFieldText(s_.String3, "0042");
    run_.pass = &pass_;
    run_.locks = &locks_;
  }

  size_t Attach(testing::FakeProduct product) {
    product.hubPort = static_cast<int>(lib_.products.size()) + 1;
    product.tableIndex = static_cast<int>(lib_.products.size());
    const size_t i = lib_.Add(product);
    SdkPortRecord& r = pass_.ports[i];
    std::snprintf(r.devicePath, kSdkPathSize, "%s", lib_.PathOf(i).c_str());
    r.hubPort = product.hubPort;
    std::snprintf(r.rootHubName, kSdkPathSize, "%s", product.rootHub.c_str());
    r.qvs87x = product.qvs87x ? 1 : 0;
    r.RunningCodeMode = product.runningMode;
    std::snprintf(pass_.m_UpdateSN[i].data(), kUpdateSnSize, "%s", product.serial.c_str());
    pass_.identityHandedOver[i] = 1;
    return i;
  }

  // Runs the worker of port `i` on this thread.
  const SdkPortRecord& Work(size_t i = 0) {
    run_.meeting.Reset(static_cast<int32_t>(lib_.products.size()));
    auto job = std::make_unique<SdkWorkerJob>();
    job->run = &run_;
    job->port = static_cast<int32_t>(i);
    job->postPortUpdate = [this] { ++posts_; };
    job->settings = s_;
    EXPECT_EQ(PortWorkerThread(std::move(job)), 0U);
    return pass_.ports[i];
  }

  // The calls that change a device (queries left out), in order.
  std::vector<std::string> Changes(size_t i = 0) {
    std::vector<std::string> kept;
    for (const std::string& name : lib_.Calls(i))
      if (!name.starts_with("QV_Get") && !name.starts_with("QV_Is") && name != "QV_CheckWriteProtect")
        kept.push_back(name);
    return kept;
  }

  testing::FakeDeviceLibrary lib_;
  SdkPassState pass_;
  SdkLocks locks_;
  SdkRun run_;
  SdkSettingsBlock s_ = ZeroedSdkSettingsBlock();
  int posts_ = 0;
};

TEST_F(SdkWorker, UpdateRoutesByModeCloneAndContent) {
  struct Case {
    const char* name;
    int mode;
    bool clone, firmware, identity;
    std::vector<std::string> changes;
    int32_t firmwareStatus, identityStatus, relinkStatus;
  };
  const Case cases[] = {
      {"standard firmware", 2, false, true, false, {"QV_FWUpdateProgrammingNoCustomizedSetting"}, 1, 0, 3},
      {"standard both", 2, false, true, true, {"QV_FWUpdateProgrammingEX"}, 1, 1, 3},
      {"standard identity", 2, false, false, true, {"QV_UpdateCustomizedSetting"}, 0, 1, 3},
      {"standard firmware, internal code",
       1, false, true, false,
       {"QV_UpdateMFGOnly", "QV_FWUpdateProgrammingNoCustomizedSetting"}, 1, 0, 3},
      {"clone firmware",
       2, true, true, false,
       {"QV_87xPreserveCustomizedSetting", "QV_SerialFlashErase", "QV_ChipReset",
        "QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting", "QV_ActiveFirmware", "QV_Update87xStandbyTimer(33)"},
       1, 0, 1},
      {"clone firmware, internal code",
       1, true, true, false,
       {"QV_87xPreserveCustomizedSetting", "QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting",
        "QV_ActiveFirmware", "QV_Update87xStandbyTimer(33)"},
       1, 0, 1},
      {"clone identity",
       2, true, false, true,
       {"QV_87xPreserveCustomizedSettingEx", "QV_SerialFlashErase", "QV_ChipReset",
        "QV_87x_Clone_UpdateCustomizedSetting", "QV_ActiveFirmware", "QV_Update87xStandbyTimer(15)"},
       0, 1, 1},
      {"clone both",
       2, true, true, true,
       {"QV_SerialFlashErase", "QV_ChipReset", "QV_87x_Clone_FWUpdateProgrammingEX", "QV_ActiveFirmware",
        "QV_Update87xStandbyTimer(15)"},
       1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lib_.products.clear();
    lib_.calls.clear();
    Attach({.runningMode = c.mode, .qvs87x = c.clone});
    s_.EnCloneProduct = c.clone;
    s_.EnFWUpdate = c.firmware;
    s_.EnEEPROMUpdate = c.identity;
    const SdkPortRecord& r = Work();
    EXPECT_THAT(Changes(), ElementsAreArray(c.changes));
    EXPECT_EQ(r.firmwareStatus, c.firmwareStatus);
    EXPECT_EQ(r.identityStatus, c.identityStatus);
    EXPECT_EQ(r.relinkStatus, c.relinkStatus);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.finalResult, 1);
    EXPECT_EQ(r.progress, 100);
    // After a reset the record holds the path the product came back under.
    EXPECT_EQ(std::string(r.devicePath), lib_.PathOf(0));
  }
}

TEST_F(SdkWorker, AFailingWriteFailsThePort) {
  struct Case {
    bool clone, firmware, identity;
    const char* failing;
  };
  const Case cases[] = {
      {true, true, false, "QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting"},
      {true, true, true, "QV_87x_Clone_FWUpdateProgrammingEX"},
      {true, false, true, "QV_87x_Clone_UpdateCustomizedSetting"},
      {false, true, false, "QV_FWUpdateProgrammingNoCustomizedSetting"},
      {false, true, true, "QV_FWUpdateProgrammingEX"},
      {false, false, true, "QV_UpdateCustomizedSetting"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    lib_.products.clear();
    lib_.calls.clear();
    lib_.failures.clear();
    Attach({.qvs87x = c.clone});
    lib_.Fail(c.failing);
    s_.EnCloneProduct = c.clone;
    s_.EnFWUpdate = c.firmware;
    s_.EnEEPROMUpdate = c.identity;
    const SdkPortRecord& r = Work();
    EXPECT_EQ(r.firmwareStatus, c.firmware ? -1 : 0);
    EXPECT_EQ(r.identityStatus, c.identity ? -1 : 0);
    EXPECT_EQ(r.result, -1);
    // Nothing after the failed write: no relink, no standby timer.
    EXPECT_THAT(Changes(), Not(Contains("QV_ActiveFirmware")));
    EXPECT_EQ(lib_.CallCount("QV_Update87xStandbyTimer"), 0);
  }
}

TEST_F(SdkWorker, ConfigurationWriteAttempts) {
  struct Case {
    int32_t retry;
    bool clone;
    int attempts;
  };
  for (const Case c : {Case{0, false, 1}, Case{2, false, 3}, Case{-1, false, 1}, Case{2, true, 3}, Case{-5, true, 1}}) {
    SCOPED_TRACE(std::to_string(c.retry) + (c.clone ? " clone" : ""));
    lib_.products.clear();
    lib_.calls.clear();
    Attach({.qvs87x = c.clone});
    lib_.Fail("QV_UpdateCustomizedSetting");
    lib_.Fail("QV_87x_Clone_UpdateCustomizedSetting");
    s_.EnCloneProduct = c.clone;
    s_.EnEEPROMUpdate = 1;
    s_.EEPROMRetry = c.retry;
    EXPECT_EQ(Work().result, -1);
    EXPECT_EQ(lib_.CallCount(c.clone ? "QV_87x_Clone_UpdateCustomizedSetting" : "QV_UpdateCustomizedSetting"),
              c.attempts);
  }
}

TEST_F(SdkWorker, NeverErasesAProductItCouldNotFindAgain) {
  // The clone firmware update erases the flash before the reset; a product
  // that cannot say where it is plugged in would stay blank.
  Attach({.qvs87x = true});
  lib_.Fail("QV_GetRootHubName");
  s_.EnCloneProduct = 1;
  s_.EnFWUpdate = 1;
  const SdkPortRecord& r = Work();
  EXPECT_EQ(lib_.CallCount("QV_SerialFlashErase"), 0);
  EXPECT_EQ(r.relinkStatus, -1);
  EXPECT_EQ(r.firmwareStatus, -1);
  EXPECT_EQ(r.result, -1);
}

TEST_F(SdkWorker, IdentityNotHandedOverFailsItsStep) {
  Attach({});
  pass_.identityHandedOver[0] = 0;
  s_.EnEEPROMUpdate = 1;
  const SdkPortRecord& r = Work();
  EXPECT_EQ(r.identityStatus, -1);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(lib_.CallCount("QV_UpdateCustomizedSetting"), 0);
}

TEST_F(SdkWorker, SpeedChecksEndTheWorkerAndCountEveryStage) {
  struct Case {
    bool gen1, gen2;
    int speed;
    int32_t status, result;
  };
  const Case cases[] = {
      {true, false, qvfw::kSpeedUsb2, -1, -1}, {true, false, qvfw::kSpeedGen1, 1, 1},
      {false, true, qvfw::kSpeedGen1, -1, -1}, {false, true, qvfw::kSpeedGen2, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    lib_.products.clear();
    lib_.calls.clear();
    Attach({.usbSpeed = c.speed});
    s_.EnUSB30Check = c.gen1;
    s_.EnUSB31Gen2Check = c.gen2;
    s_.EnFWCheck = 1;
    // A verification failure does not stop the speed checks.
    s_.EnVenderCheck = 1;
    s_.EnCheckVID = 1;
    SetFieldText(s_.VerifyVenderID, "FFFF");
    const SdkPortRecord& r = Work();
    EXPECT_EQ(r.verifyStatus, -1);
    EXPECT_EQ(r.usbSpeedCheckStatus, c.status);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(lib_.CallCount("QV_CheckChipFW"), c.status == 1 ? 1 : 0);
    // The worker that left early counted every stage: nobody waits for it.
    for (int stage : {kStageErase, kStageIdentity, kStageFirmware, kStageUfs})
      EXPECT_EQ(run_.meeting.Count(stage), 1) << stage;
  }
}

TEST_F(SdkWorker, VerificationReadsEveryCheck) {
  Attach({});
  s_.EnVenderCheck = 1;
  s_.EnCheckVID = s_.EnCheckPID = s_.EnCheckManufString = s_.EnCheckUSBProdString = 1;
  s_.EnCheckDiskName = s_.EnCheckHDDFwRev = 1;
  SetFieldText(s_.VerifyVenderID, "13FE");
  SetFieldText(s_.VerifyProductID, "6300");
  SetFieldText(s_.VerifyStringA, "Maker");
  SetFieldText(s_.VerifyStringB, "Disk");
  SetFieldText(s_.DiskName, "Vendor Product");
  SetFieldText(s_.HDDFwRev, "1.02A");
  EXPECT_EQ(Work().verifyStatus, 1);
  // A failed ID query is a mismatch, never a match of the zero it left.
  lib_.Fail("QV_GetPIDfromOS");
  SetFieldText(s_.VerifyProductID, "0000");
  SetFieldText(s_.DiskName, "Vendor  Product");
  const SdkPortRecord& r = Work();
  EXPECT_EQ(r.verifyStatus, -1);
  EXPECT_EQ(r.verifyFlags, bridge::kVerifyVidPid | bridge::kVerifyDiskName);
}

TEST_F(SdkWorker, ADriveLetterIsNeverAnotherProducts) {
  // The record still holds a letter from an earlier pass; this product's
  // volume never gets one. Nothing may run on that stale letter.
  Attach({.driveLetter = 0});
  std::snprintf(pass_.ports[0].driveLetter, kSdkLetterSize, "F");
  s_.EnRWTest = 1;
  const SdkPortRecord& r = Work();
  EXPECT_EQ(r.readWriteStatus, -1);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(lib_.CallCount("QV_DiskRWTest"), 0);
  EXPECT_EQ(lib_.CallCount("QV_GetMappingLetter"), 101);
  EXPECT_EQ(std::string(r.driveLetter), "");

  s_.EnRWTest = 0;
  s_.EnSWCopy = 1;
  SetFieldText(s_.SwImgPath, folder_ + "/*.*");
  std::snprintf(pass_.ports[0].driveLetter, kSdkLetterSize, "F");
  EXPECT_EQ(Work().softwareCopyStatus, -1);
}

TEST_F(SdkWorker, ReadWriteLimitsAndFreeSpace) {
  struct Case {
    int32_t readMin, writeMin;
    bool freeSpaceCheck;
    int32_t status;
  };
  const Case cases[] = {
      {0, 0, false, 1},
      {100, 0, false, 1},  // the limits apply only when both are set
      {100, 100, false, -1},
      {50, 50, false, 1},
      {0, 0, true, 4},  // no volume on the bench: no free space in range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.readMin) + "/" + std::to_string(c.writeMin));
    lib_.products.clear();
    lib_.calls.clear();
    Attach({.usbSpeed = qvfw::kSpeedGen1, .readSpeed = 90, .writeSpeed = 120});
    s_.EnRWTest = 1;
    s_.USBReadPerformance = c.readMin;
    s_.USBWritePerformance = c.writeMin;
    s_.EnFreeSpaceCheck = c.freeSpaceCheck;
    s_.FreeSpace = 1'000'000'000;
    const SdkPortRecord& r = Work();
    EXPECT_EQ(r.readWriteStatus, c.status);
    EXPECT_EQ(r.result, c.status == 1 ? 1 : -1);
    EXPECT_FLOAT_EQ(r.readSpeed.load(), 90);
    // A warm-up of 2 MB, then at least 256 MB on a fast port.
    EXPECT_THAT(lib_.Calls(0), Contains("QV_DiskRWTest(2)"));
    EXPECT_THAT(lib_.Calls(0), Contains("QV_DiskRWTest(256)"));
  }
}

TEST_F(SdkWorker, TheReadWriteTestSendsBothFlushesEachRound) {
  // SYNCHRONIZE CACHE(10) and then FLUSH CACHE EXT in every round; the
  // rounds end after the first in which either was taken, five at most.
  // The end's three pairs follow.
  constexpr uint8_t kSync = 0x35;
  constexpr uint8_t kAtaPassThrough = 0xA1;  // carries FLUSH CACHE EXT
  struct Case {
    const char* name;
    bool syncTaken, flushTaken;
    int rounds;
  };
  const Case cases[] = {
      {"both taken", true, true, 1},
      {"only the cache sync", true, false, 1},
      {"only the flush", false, true, 1},
      {"neither", false, false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto disk = std::make_shared<bridge::testing::FakeBackend>();
    disk->scsi = [&c](platform::ScsiPassThroughDirect& request) {
      const bool taken = request.Cdb[0] == kSync ? c.syncTaken : c.flushTaken;
      request.ScsiStatus = taken ? platform::kScsiStatusGood : 2;
      return true;
    };
    const platform::ScopedBackend installed(disk);
    lib_.products.clear();
    lib_.calls.clear();
    Attach({});
    s_.EnRWTest = 1;
    EXPECT_EQ(Work().readWriteStatus, 1);
    std::vector<uint8_t> sent;
    for (const std::vector<uint8_t>& cdb : disk->cdbs) sent.push_back(cdb.at(0));
    std::vector<uint8_t> expected;
    for (int i = 0; i < c.rounds; ++i) expected.insert(expected.end(), {kSync, kAtaPassThrough});
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), {kAtaPassThrough, kSync});
    EXPECT_EQ(sent, expected);
  }
}

TEST_F(SdkWorker, PartitionAndFormatRoutes) {
  Attach({});
  s_.EnPartition = 1;
  s_.EnFormat = 1;
  s_.DiskFormat = qvfw::kFileSystemFat32;
  EXPECT_EQ(Work().result, 1);
  EXPECT_THAT(Changes(), ElementsAreArray({"QV_FormatUnit", "QV_Partition_LBA_Format_LBA"}));

  // The combined calls all failing: partition, wait for the letter, format.
  lib_.calls.clear();
  lib_.Fail("QV_Partition_LBA_Format_LBA");
  lib_.Fail("QV_Partition_LBA_Format_FormatCOM");
  lib_.Fail("QV_Partition_LBA_Format_WindowsAPI");
  const SdkPortRecord& r = Work();
  EXPECT_THAT(Changes(), ElementsAreArray({"QV_FormatUnit", "QV_Partition_LBA_Format_LBA",
                                           "QV_Partition_LBA_Format_FormatCOM", "QV_Partition_LBA_Format_WindowsAPI",
                                           "QV_DiskPartition", "QV_DiskFormat"}));
  EXPECT_EQ(r.partitionStatus, 1);
  EXPECT_EQ(r.formatStatus, 1);
  EXPECT_EQ(r.result, 1);

  // A format whose free space is out of range fails with 4.
  s_.EnFreeSpaceCheck = 1;
  s_.FreeSpace = 1'000'000'000;
  EXPECT_EQ(Work().formatStatus, 4);
}

TEST_F(SdkWorker, UfsUnits) {
  struct Case {
    const char* name;
    testing::FakeProduct product;
    int32_t enabled, writeProtect, result;
    int resets;
  };
  const Case cases[] = {
      {"not UFS", {}, 0, 0, 1, 0},
      {"already enabled", {.ufs = true}, 0, 0, 1, 0},
      {"enabled at once", {.ufs = true, .ufsState = 0, .ufsEnablesAtOnce = true}, 1, 0, 1, 0},
      {"enabled by the reset", {.ufs = true, .ufsState = 0, .ufsEnablesOnReset = true}, 1, 0, 1, 1},
      // Not enabled, yet on the bus: the disk steps decide.
      {"still disabled", {.ufs = true, .ufsState = 0}, 0, 0, 1, 1},
      {"lost in the relink", {.ufs = true, .ufsState = 0, .ufsEnablesOnReset = true, .comesBack = false}, 0, 0, -1, 1},
      {"write protected", {.ufs = true, .writeProtected = 1}, 0, 1, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lib_.products.clear();
    lib_.calls.clear();
    Attach(c.product);
    const SdkPortRecord& r = Work();
    EXPECT_EQ(r.ufsEnabled, c.enabled);
    EXPECT_EQ(r.ufsWriteProtect, c.writeProtect);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(lib_.Product(0).resets, c.resets);
    EXPECT_EQ(run_.meeting.Count(kStageUfs), 1);
  }
}

TEST_F(SdkWorker, EraseOnlyRun) {
  Attach({});
  s_.EraseFlashOnly = 1;
  s_.EnFWUpdate = 1;
  const SdkPortRecord& r = Work();
  EXPECT_THAT(Changes(), ElementsAreArray({"QV_SerialFlashErase", "QV_ChipReset"}));
  EXPECT_EQ(r.firmwareStatus, 1);
  EXPECT_EQ(r.result, 1);
  lib_.calls.clear();
  lib_.Fail("QV_SerialFlashErase");
  EXPECT_EQ(Work().firmwareStatus, -1);
  EXPECT_EQ(run_.meeting.Count(kStageErase), 1);
}

}  // namespace
}  // namespace sdkstation
