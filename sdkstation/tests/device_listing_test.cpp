// The device list through the bound library on the bench: speeds, running
// modes, statuses across listings, records of devices whose queries fail,
// and whether START may be pressed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/device_mix_check.h"
#include "sdkstation/tests/sdk_fixture.h"
#include "sim/product.h"

namespace sdkstation {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class SdkListing : public testing::SdkTest {
 public:
  DeviceListing List() { return ListAttachedDevices(list_, ports_, attached_, freeSpace_); }
  const SdkPortRecord& Record(int i) const { return ports_[static_cast<size_t>(i)]; }

  DeviceList list_;
  SdkPortTable ports_;
  int32_t attached_ = 0;
  int64_t freeSpace_ = 0;
};

TEST_F(SdkListing, TheLowestSpeedOfTheDevices) {
  struct Case {
    std::vector<const char*> speeds;
    int32_t lowest;
  };
  const Case cases[] = {
      {{"superplus", "super"}, qvfw::kSpeedGen1},
      {{"superplus", "superplus"}, qvfw::kSpeedGen2},
      {{"superplus", "high"}, qvfw::kSpeedUsb2},
  };
  for (const Case& c : cases) {
    std::string bench;
    for (const char* speed : c.speeds) bench += "[product p" + std::to_string(bench.size()) + "]\nchip = 25\nspeed = " + speed + "\n";
    SCOPED_TRACE(bench);
    if (module_) {
      EXPECT_TRUE(UnbindDeviceSdk(module_));
    }
    Bench(bench);
    Bind();
    attached_ = 0;
    const DeviceListing listing = List();
    EXPECT_EQ(listing.count, static_cast<int>(c.speeds.size()));
    EXPECT_EQ(listing.lowestSpeed, c.lowest);
  }
  // Not one speed query answers: nothing says the products run faster than
  // USB 2.0.
  DeviceSdk().QV_GetUSBSpeed = [](const char*, int*) { return 0; };
  EXPECT_EQ(List().lowestSpeed, qvfw::kSpeedUsb2);
  EXPECT_EQ(Record(0).usbSpeed, 0);
}

TEST_F(SdkListing, RunningModesGiveTheFirmwareText) {
  Bench("[product boot]\nchip = 21\nboot_rom = 1\n[product running]\nchip = 21\n[product unknown]\nchip = 21\n");
  Bind();
  sim::Fault readBuffer;
  readBuffer.kind = sim::Fault::Kind::CheckCondition;
  readBuffer.cdbPrefix = {0x3C};
  readBuffer.count = -1;
  bench_->product(2).AddFault(readBuffer);
  ASSERT_EQ(List().count, 3);
  char version[qvfw::kTextCapacity] = {};
  ASSERT_EQ(DeviceSdk().QV_GetFWVersion(Record(1).devicePath, version), 1);
  EXPECT_EQ(std::string(Record(0).firmwareText), "InCode");
  EXPECT_EQ(Record(0).RunningCodeMode, 1);
  EXPECT_EQ(std::string(Record(1).firmwareText), version);
  EXPECT_EQ(Record(1).RunningCodeMode, 2);
  EXPECT_EQ(std::string(Record(2).firmwareText), "--");
  EXPECT_EQ(Record(2).RunningCodeMode, 0);
}

TEST_F(SdkListing, TheSameCountKeepsTheStatusesOneMoreClearsThemAll) {
  Bench(testing::Products(21, 3));
  Bind();
  bench_->product(2).Unplug();
  ASSERT_EQ(List().count, 2);
  for (SdkPortRecord& record : ports_) {
    record.result = 1;
    record.formatStatus = -1;
    record.folderCompareStatus = 3;
  }
  EXPECT_FALSE(List().statusesCleared);
  EXPECT_EQ(Record(1).result, 1);
  EXPECT_EQ(Record(1).formatStatus, -1);

  bench_->product(2).Plug();
  const DeviceListing more = List();
  EXPECT_EQ(more.count, 3);
  EXPECT_TRUE(more.statusesCleared);
  EXPECT_EQ(attached_, 3);
  for (const SdkPortRecord& record : ports_) {
    EXPECT_EQ(record.result, 0);
    EXPECT_EQ(record.formatStatus, 0);
    EXPECT_EQ(record.folderCompareStatus, 0);
  }
}

// Product 0 leaves; its old record must not lend its hub location to the
// product listed in its place when that one's location queries fail, or a
// re-find by location would take the wrong device.
TEST_F(SdkListing, AFailedQueryLeavesNoOtherProductsValue) {
  Bench("[product a]\nchip = 21\nport = 1\nserial = AAAA\n[product b]\nchip = 25\nport = 3\nserial = BBBB\n");
  Bind();
  ASSERT_EQ(List().count, 2);
  EXPECT_EQ(Record(0).hubPort, 1);
  EXPECT_EQ(std::string(Record(0).systemSerial), "AAAA");

  bench_->product(0).Unplug();
  DeviceSdk().QV_GetHubPortIndex = [](const char*, int*) { return 0; };
  DeviceSdk().QV_GetRootHubName = [](const char*, char*) { return 0; };
  DeviceSdk().QV_GetSNfromOS = [](const char*, char*) { return 0; };
  DeviceSdk().QV_GetChipType = [](const char*, int*) { return 0; };
  ASSERT_EQ(List().count, 1);
  EXPECT_EQ(std::string(Record(0).devicePath), bench_->product(1).path());
  EXPECT_EQ(Record(0).hubPort, 0);
  EXPECT_EQ(std::string(Record(0).rootHubName), "");
  EXPECT_EQ(std::string(Record(0).systemSerial), "");
  EXPECT_EQ(Record(0).chipType, 0);
}

TEST_F(SdkListing, ADeviceWhoseEveryQueryFails) {
  Bench("[product a]\nchip = 25\nspeed = superplus\n");
  Bind();
  ASSERT_EQ(List().count, 1);
  EXPECT_EQ(Record(0).usbSpeed, qvfw::kSpeedGen2);
  DeviceSdkTable& sdk = DeviceSdk();
  sdk.QV_GetDiskCapacity = [](const char*, uint64_t*) { return 0; };
  sdk.QV_GetUSBSpeed = [](const char*, int*) { return 0; };
  sdk.QV_GetChipType = [](const char*, int*) { return 0; };
  sdk.QV_GetRunningCodeMode = [](const char*, int*) { return 0; };
  sdk.QV_GetFWVersion = [](const char*, char*) { return 0; };
  sdk.QV_GetHubPortIndex = [](const char*, int*) { return 0; };
  sdk.QV_GetRootHubName = [](const char*, char*) { return 0; };
  sdk.QV_GetSNfromOS = [](const char*, char*) { return 0; };
  sdk.QV_GetVIDfromOS = [](const char*, uint16_t*) { return 0; };
  sdk.QV_GetPIDfromOS = [](const char*, uint16_t*) { return 0; };
  sdk.QV_IsUASPdevice = [](const char*) { return 0; };
  sdk.QV_IsQVS87xSeries = [](const char*) { return 0; };
  const DeviceListing listing = List();
  ASSERT_EQ(listing.count, 1);
  EXPECT_EQ(listing.lowestSpeed, qvfw::kSpeedUsb2);
  const SdkPortRecord& r = Record(0);
  EXPECT_EQ(std::string(r.devicePath), bench_->product(0).path());
  EXPECT_EQ(r.usbSpeed, 0);
  EXPECT_EQ(r.chipType, 0);
  EXPECT_EQ(r.RunningCodeMode, 0);
  EXPECT_EQ(std::string(r.firmwareText), "--");
  EXPECT_EQ(r.hubPort, 0);
  EXPECT_EQ(std::string(r.rootHubName), "");
  EXPECT_EQ(std::string(r.systemSerial), "");
  EXPECT_EQ(r.vid, 0);
  EXPECT_EQ(r.pid, 0);
  EXPECT_EQ(r.capacityMB, 0u);
}

// A bridge that answers no command is not one the library lists; the one
// beside it is listed whole, its 30-character serial and all.
TEST_F(SdkListing, ADeadBridgeBesideOneThatWorks) {
  Bench("[product dead]\nchip = 21\n[product fine]\nchip = 21\nserial = 123456789012345678901234567890\n"
        "product = \"Tab\tInside\"\n");
  Bind();
  sim::Fault dead;
  dead.kind = sim::Fault::Kind::RequestFails;
  dead.count = -1;
  bench_->product(0).AddFault(dead);
  ASSERT_EQ(List().count, 1);
  EXPECT_EQ(std::string(Record(0).devicePath), bench_->product(1).path());
  EXPECT_EQ(std::string(Record(0).systemSerial), "123456789012345678901234567890");
  EXPECT_EQ(Record(0).chipType, 21);
  EXPECT_EQ(Record(0).qvs87x, 1);
  EXPECT_EQ(Record(0).RunningCodeMode, 2);
}

TEST_F(SdkListing, SeventeenProductsListSixteen) {
  Bench(testing::Products(25, 17));
  Bind();
  const DeviceListing listing = List();
  EXPECT_EQ(listing.count, 16);
  EXPECT_EQ(attached_, 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(std::string(Record(i).devicePath), list_[i]) << i;
}

// One list call, then each device asked each question once.
TEST_F(SdkListing, SixteenProductsTakeOneListCallAndOnePassOfQueries) {
  Bench(testing::Products(25, 16));
  Bind();
  testing::DebugLines trace;
  ASSERT_EQ(List().count, 16);
  std::map<std::string, std::vector<std::string>> perDevice;
  int lists = 0;
  for (const std::string& call : trace.Take("QV_")) {
    const std::string name = call.substr(0, call.find('('));
    if (name == "QV_GetDeviceList") {
      ++lists;
      continue;
    }
    const size_t open = call.find("(\"") + 2;
    perDevice[call.substr(open, call.find('"', open) - open)].push_back(name);
  }
  EXPECT_EQ(lists, 1);
  ASSERT_EQ(perDevice.size(), 16u);
  const std::vector<std::string> questions = {
      "QV_GetDiskCapacity", "QV_GetUSBSpeed", "QV_GetChipType", "QV_GetRunningCodeMode", "QV_GetFWVersion",
      "QV_GetHubPortIndex", "QV_GetRootHubName", "QV_GetSNfromOS", "QV_GetVIDfromOS", "QV_GetPIDfromOS",
      "QV_IsUASPdevice", "QV_IsQVS87xSeries"};
  for (const auto& [path, names] : perDevice) EXPECT_EQ(names, questions) << path;
}

TEST_F(SdkListing, TheFirstDeviceWithAVolumeSetsTheExpectedFreeSpace) {
  Bench("[product raw]\nchip = 25\nletters = -\n[product a]\nchip = 25\nvolume.free = 2G\n"
        "[product b]\nchip = 25\nvolume.free = 3G\n");
  Bind();
  EXPECT_TRUE(List().freeSpaceLearned);
  EXPECT_EQ(freeSpace_, 2LL << 30);
  EXPECT_EQ(Record(2).freeBytes, 3ULL << 30);
  EXPECT_FALSE(List().freeSpaceLearned);
  EXPECT_EQ(freeSpace_, 2LL << 30);
}

// --- Whether START may be pressed ---------------------------------------------------

// The library's file check as a stand-in: only "good.bin" suits the chips.
int FileMatches(const char*, const char* file) { return std::string(file) == "good.bin" ? 1 : 0; }

TEST_F(SdkListing, StartConditions) {
  Bench("[product a]\nchip = 25\ndisk.sectors = 976773168\n[product b]\nchip = 25\ndisk.sectors = 976773168\n"
        "[product other]\nchip = 21\n");
  Bind();
  DeviceSdk().QV_CheckLoadBinFileMatch = &FileMatches;
  bench_->product(2).Unplug();
  ASSERT_EQ(List().count, 2);

  struct Case {
    const char* what;
    std::function<void(SdkSettingsBlock&, StationOptions&, MixControls&, int& count)> set;
    bool mayStart;
    bool autoStartReady;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"all fit", [](auto&, auto&, auto&, int&) {}, true, false, {}},
      {"capacity within 10 %", [](auto& b, auto&, auto&, int&) { b.Capacity = 500; }, true, false, {}},
      {"capacity out of tolerance", [](auto& b, auto&, auto&, int&) { b.Capacity = 1000; }, false, false,
       {kCapacityMessage}},
      {"not checked under CLONE", [](auto& b, auto&, auto& c, int&) { b.Capacity = 1000; c.cloneProduct = true; },
       true, false, {}},
      {"user-defined", [](auto& b, auto&, auto& c, int&) { b.Capacity = 1; c.userCapacity = "480"; }, true, false, {}},
      {"user-defined, no number", [](auto& b, auto&, auto& c, int&) { b.Capacity = 1; c.userCapacity = "48O"; },
       false, false, {kCapacityMessage}},
      {"user-defined, empty", [](auto& b, auto&, auto& c, int&) { b.Capacity = 1; c.userCapacity = ""; },
       false, false, {kCapacityMessage}},
      {"a suiting file", [](auto& b, auto&, auto& c, int&) { SetFieldText(b.FwFileName, "good.bin"); c.firmwareChosen = true; },
       true, false, {}},
      {"a file that does not suit the chips",
       [](auto& b, auto&, auto& c, int&) { SetFieldText(b.FwFileName, "bad.bin"); c.firmwareChosen = true; },
       false, false, {kFirmwareNotForAllChips}},
      {"a file, but no firmware step", [](auto& b, auto&, auto&, int&) { SetFieldText(b.FwFileName, "bad.bin"); },
       true, false, {}},
      {"auto-run", [](auto&, auto& o, auto&, int&) { o.MPAutorun = 2; }, false, true, {}},
      {"bar-code mode", [](auto& b, auto&, auto&, int&) { b.EnBarcodeMode = 1; }, false, true, {}},
      {"auto-run, a check failing", [](auto& b, auto& o, auto&, int&) { o.MPAutorun = 2; b.Capacity = 80; }, false,
       false, {kCapacityMessage}},
      {"no device", [](auto&, auto&, auto&, int& n) { n = 0; }, false, false, {}},
      {"a run active", [](auto&, auto&, auto& c, int&) { c.runActive = true; }, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SdkSettingsBlock block = ZeroedSdkSettingsBlock();
    StationOptions options;
    MixControls controls;
    int count = 2;
    c.set(block, options, controls, count);
    boxes_.clear();
    const MixDecision decision = JudgeDeviceMix(ports_, count, block, options, controls);
    EXPECT_EQ(decision.mayStart, c.mayStart);
    EXPECT_EQ(decision.autoStartReady, c.autoStartReady);
    EXPECT_EQ(Messages(), c.messages);
  }

  SdkSettingsBlock block = ZeroedSdkSettingsBlock();
  block.Capacity = 1;
  JudgeDeviceMix(ports_, 2, block, StationOptions(), {.userCapacity = "480"});
  EXPECT_EQ(block.CapacityCustomize, 480);

  // Different chip models: the message box with its caption.
  bench_->product(2).Plug();
  ASSERT_EQ(List().count, 3);
  boxes_.clear();
  block = ZeroedSdkSettingsBlock();
  EXPECT_FALSE(JudgeDeviceMix(ports_, 3, block, StationOptions(), {}).mayStart);
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_EQ(boxes_.boxes()[0].text, kMultipleModelsMessage);
  EXPECT_EQ(boxes_.boxes()[0].caption, "Error");
}

}  // namespace
}  // namespace sdkstation
